#!/usr/bin/python3
"""Checks of the installer package and of the prefix pictures the guest stage
compares, on this machine (no 32-bit program runs here):

  package_test.py I686_BUILD VERSION SOURCE_DIR
"""

import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import snapshot  # noqa: E402

I686_BUILD, VERSION, SOURCE_DIR = sys.argv[1:4]
del sys.argv[1:4]


def version_h():
    with open(os.path.join(SOURCE_DIR, "resources", "version.h")) as f:
        text = f.read()
    parts = [re.search(r"#define HALVO_VERSION_%s (\d+)" % p, text).group(1) for p in ("MAJOR", "MINOR", "PATCH", "BUILD")]
    return ".".join(parts)


def make(version, out):
    subprocess.run([os.path.join(SOURCE_DIR, "installer", "make-installer.sh"), version,
                    os.path.join(I686_BUILD, "bin"), out], check=True, stdout=subprocess.DEVNULL)
    with open(out, "rb") as f:
        return f.read()


def version_resource(path):
    pe = pefile.PE(path)
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
               fixed.FileVersionLS & 0xFFFF)
    strings = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return ".".join(map(str, numbers)), strings, pe.FILE_HEADER.Machine


class Package(unittest.TestCase):
    def setUp(self):
        self.built = os.path.join(I686_BUILD, "installer", "halvo-transfer-plugin-%s-setup.exe" % VERSION)

    def test_the_version_comes_from_the_one_place_into_name_and_resource(self):
        self.assertEqual(VERSION, version_h())
        self.assertTrue(os.path.isfile(self.built), self.built)
        numbers, strings, machine = version_resource(self.built)
        self.assertEqual(VERSION, numbers)
        self.assertEqual(VERSION, strings.get("FileVersion"))
        self.assertEqual(VERSION, strings.get("ProductVersion"))
        self.assertEqual("Halvo Transfer Plugin", strings.get("ProductName"))
        self.assertEqual(0x14C, machine, "a 32-bit installer, for the 32-bit module")

    def test_the_same_inputs_give_the_same_bytes_at_another_time(self):
        with tempfile.TemporaryDirectory() as folder:
            first = make(VERSION, os.path.join(folder, "a.exe"))
            time.sleep(1.1)
            second = make(VERSION, os.path.join(folder, "b.exe"))
            lower = make("1.0.0.1", os.path.join(folder, "c.exe"))
        self.assertEqual(first, second)
        with open(self.built, "rb") as f:
            self.assertEqual(first, f.read(), "the build's installer is out of date or not reproducible")
        self.assertNotEqual(first, lower)

    def test_bad_versions_are_refused_by_the_script(self):
        with tempfile.TemporaryDirectory() as folder:
            for version in ("1.0.5", "1.0.0.x", ""):
                result = subprocess.run([os.path.join(SOURCE_DIR, "installer", "make-installer.sh"), version,
                                         os.path.join(I686_BUILD, "bin"), os.path.join(folder, "bad.exe")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                self.assertNotEqual(0, result.returncode, version)
                self.assertFalse(os.path.exists(os.path.join(folder, "bad.exe")), version)


# A registry file as wineserver saves it, with what the parser must get right.
SYSTEM_REG = r'''WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win32

[Software\\MozillaPlugins\\@halvo/transfer,version=1.0.0.5] 1796810292
#time=1dd87c3cda5f1b6
"Path"="C:\\Program Files\\Halvo\\Transfer Plugin\\halvo_plugin.dll"
"Quote"="say \"hi\" \x00e9t\x00e9"

[Software\\Classes\\CLSID\\{6F0C3A52-7E1B-4C8D-9A24-3B5E8D71C901}\\InprocServer32] 1796810292
@="C:\\x\\halvo_engine.dll"
"ThreadingModel"="Apartment"
"Size"=dword:00000400
"Blob"=hex:01,02,03,\
  04,05

[Software\\Wine] 1796810293
'''


class Pictures(unittest.TestCase):
    def picture(self, system_reg, user_reg="", files=()):
        folder = tempfile.mkdtemp()
        with open(os.path.join(folder, "system.reg"), "w") as f:
            f.write(system_reg)
        with open(os.path.join(folder, "user.reg"), "w") as f:
            f.write("WINE REGISTRY Version 2\n\n" + user_reg)
        for path, content in files:
            full = os.path.join(folder, "drive_c", path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(content)
        os.makedirs(os.path.join(folder, "drive_c"), exist_ok=True)
        out = os.path.join(folder, "picture.json")
        snapshot.take(folder, out)
        return snapshot.load(out)

    def test_keys_values_escapes_and_continued_lines_read_as_windows_has_them(self):
        registry = set(self.picture(SYSTEM_REG)["registry"].values())
        plugin = "HKLM\\Software\\MozillaPlugins\\@halvo/transfer,version=1.0.0.5"
        self.assertIn(plugin, registry)
        self.assertIn(plugin + '\\\\Path="C:\\\\Program Files\\\\Halvo\\\\Transfer Plugin\\\\halvo_plugin.dll"', registry)
        server = "HKLM\\Software\\Classes\\CLSID\\{6F0C3A52-7E1B-4C8D-9A24-3B5E8D71C901}\\InprocServer32"
        self.assertIn(server + "\\\\Blob=hex:01,02,03,04,05", registry)
        self.assertIn(server + "\\\\Size=dword:00000400", registry)
        values = {i.split("\\\\", 1)[1] for i in registry if "\\\\" in i}
        self.assertEqual(6, len(values), values)
        quote = [v for v in values if v.startswith("Quote=")][0]
        self.assertEqual('say "hi" \u00e9t\u00e9', snapshot.value_text(quote.split("=", 1)[1]))
        self.assertEqual("1024", snapshot.value_text("dword:00000400"))

    def test_differences_ignore_key_case_and_wine_scratch_folders_but_not_value_changes(self):
        before = self.picture(SYSTEM_REG, files=[("Program Files/a.txt", "1"), ("windows/x.log", "a"),
                                                ("users/root/AppData/Local/Temp/old.tmp", "o")])
        changed = SYSTEM_REG.replace("Software\\\\Wine", "SOFTWARE\\\\WINE").replace('"Apartment"', '"Both"')
        after = self.picture(changed, user_reg='[Software\\\\Halvo] 1\n"A"="b"\n',
                             files=[("Program Files/a.txt", "2"), ("windows/x.log", "b"),
                                    ("users/root/AppData/Local/Temp/ns1.tmp", "t")])
        lines = snapshot.differences(before, after)
        signs = sorted((sign, kind, item.split("=")[0]) for sign, kind, item in lines)
        self.assertIn(("+", "reg", "HKCU\\Software\\Halvo"), signs)
        self.assertIn(("+", "reg", "HKCU\\Software\\Halvo\\\\A"), signs)
        self.assertTrue(any(s == "+" and "ThreadingModel" in i and "Both" in i for s, _, i in lines))
        self.assertTrue(any(s == "-" and "ThreadingModel" in i and "Apartment" in i for s, _, i in lines))
        self.assertIn(("+", "file", "C:\\Program Files\\a.txt"), signs)
        self.assertIn(("-", "file", "C:\\Program Files\\a.txt"), signs)
        self.assertFalse([l for l in lines if "Wine" in l[2] or "WINE" in l[2] or "x.log" in l[2] or "ns1" in l[2]],
                         lines)
        self.assertEqual(6, len(lines), lines)


if __name__ == "__main__":
    unittest.main()
