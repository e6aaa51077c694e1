#!/usr/bin/python3
"""Proves that every static check fails on a module broken in its way: each case
patches a copy of the real 32-bit module and expects check_module to refuse it."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_module  # noqa: E402

MODULE = None


def utf16(text):
    return text.encode("utf-16-le")


class BrokenModules(unittest.TestCase):
    def setUp(self):
        with open(MODULE, "rb") as module:
            self.original = bytearray(module.read())

    def check_patched(self, data, expected):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "halvo_plugin.dll")
            with open(path, "wb") as copy:
                copy.write(data)
            failures = check_module.check(path, "i386")
        self.assertTrue(any(expected in failure for failure in failures),
                        "expected a failure about %r, got %s" % (expected, failures))

    def replace_once(self, old, new):
        data = bytearray(self.original)
        at = data.find(old)
        self.assertNotEqual(-1, at, "pattern %r not in the module" % old)
        data[at:at + len(old)] = new
        return data

    def test_the_real_module_passes(self):
        self.assertEqual([], check_module.check(MODULE, "i386"))

    def test_wrong_machine(self):
        data = bytearray(self.original)
        header = pefile.PE(data=bytes(data)).FILE_HEADER.get_file_offset()
        data[header:header + 2] = (0x8664).to_bytes(2, "little")
        self.check_patched(data, "machine")

    def test_renamed_export(self):
        self.check_patched(self.replace_once(b"NP_Shutdown\0", b"NP_ShutDown\0"), "exports")

    def test_import_from_a_private_dll(self):
        self.check_patched(self.replace_once(b"msvcrt.dll", b"libxyz.dll"), "non-system DLL")

    def test_wrong_mime_type_in_the_version_resource(self):
        self.check_patched(self.replace_once(utf16("application/x-halvoplugin"), utf16("application/x-halvoplugix")),
                           "MIMEType")

    def test_wrong_translation(self):
        key = utf16("Translation") + b"\0\0"
        data = bytearray(self.original)
        at = data.find(key)
        self.assertNotEqual(-1, at)
        value = (at + len(key) + 3) & ~3
        self.assertEqual(bytes([0x09, 0x04, 0xE4, 0x04]), bytes(data[value:value + 4]))
        data[value + 2:value + 4] = (0x04B0).to_bytes(2, "little")
        self.check_patched(data, "translation")

    def test_cdecl_initialize(self):
        # Turn NP_Initialize's first `ret $0x4` into a plain `ret`, as a __cdecl build has.
        pe = pefile.PE(data=bytes(self.original))
        exports = {s.name.decode(): s.address for s in pe.DIRECTORY_ENTRY_EXPORT.symbols}
        start = pe.OPTIONAL_HEADER.ImageBase + exports["NP_Initialize"]
        listing = subprocess.run(
            [check_module.objdump_for("i386"), "-d", "--start-address=0x%x" % start,
             "--stop-address=0x%x" % (start + 4096), MODULE], check=True, capture_output=True, text=True).stdout
        address = next(int(m.group(1), 16) for m in re.finditer(r"^\s*([0-9a-f]+):\s+c2 04 00", listing, re.M))
        offset = pe.get_offset_from_rva(address - pe.OPTIONAL_HEADER.ImageBase)
        data = bytearray(self.original)
        data[offset:offset + 3] = b"\xc3\x90\x90"
        self.check_patched(data, "NP_Initialize returns with")


if __name__ == "__main__":
    MODULE = sys.argv.pop(1)
    unittest.main(verbosity=2)
