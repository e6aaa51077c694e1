#!/usr/bin/python3
"""Static checks of a built halvo_plugin.dll, read the way a browser reads it.

Checks: the PE machine; exactly the four exports with their names and ordinals;
imports only from Windows system DLLs; every version-resource string and the
translation; and, for 32-bit modules, that NP_Initialize and NP_GetEntryPoints
are __stdcall (they pop their one pointer argument: `ret $0x4`).
Exits 0 when every check passes, 1 with one line per failure otherwise."""

import argparse
import re
import shutil
import subprocess
import sys

import pefile

MACHINES = {"i386": 0x14C, "amd64": 0x8664}

EXPORTS = {1: "NP_GetEntryPoints", 2: "NP_Initialize", 3: "NP_Shutdown", 4: "NP_GetMIMEDescription"}

# Lower-case names of the Windows DLLs the module may import from.
SYSTEM_DLLS = {
    "advapi32.dll", "gdi32.dll", "gdiplus.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll",
    "shell32.dll", "shlwapi.dll", "user32.dll", "ws2_32.dll", "winhttp.dll", "iphlpapi.dll", "bcrypt.dll",
}

VERSION_STRINGS = {
    "FileDescription": "This is a npapi plugin built for Chrome on Windows.",
    "FileOpenName": "HalvoTransferPlugin",
    "FileVersion": "1, 0, 0, 5",
    "InternalName": "HalvoTransferPlugin",
    "MIMEType": "application/x-halvoplugin",
    "OriginalFilename": "halvo_plugin.dll",
    "ProductName": "Halvo Transfer Plugin",
    "ProductVersion": "1, 0, 0, 5",
}
STRING_BLOCK = "040904e4"
TRANSLATION = (0x0409, 0x04E4)
FIXED_VERSION = (1, 0, 0, 5)

STDCALL_ONE_POINTER = ("NP_Initialize", "NP_GetEntryPoints")


def check_machine(pe, machine, failures):
    if pe.FILE_HEADER.Machine != MACHINES[machine]:
        failures.append("machine is 0x%04x, not %s" % (pe.FILE_HEADER.Machine, machine))
    if not pe.is_dll():
        failures.append("not a DLL")


def exports_of(pe):
    if not hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
        return {}
    return {sym.ordinal: (sym.name.decode() if sym.name else None, sym.address)
            for sym in pe.DIRECTORY_ENTRY_EXPORT.symbols}


def check_exports(pe, failures):
    found = {ordinal: name for ordinal, (name, _) in exports_of(pe).items()}
    if found != EXPORTS:
        failures.append("exports are %s, expected %s" % (sorted(found.items()), sorted(EXPORTS.items())))


def check_imports(pe, failures):
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        name = entry.dll.decode().lower()
        if name not in SYSTEM_DLLS and not name.startswith("api-ms-win-"):
            failures.append("imports from a non-system DLL: %s" % entry.dll.decode())


def check_version(pe, failures):
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        failures.append("no version resource")
        return
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
               fixed.FileVersionLS & 0xFFFF)
    product = (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF, fixed.ProductVersionLS >> 16,
               fixed.ProductVersionLS & 0xFFFF)
    if numbers != FIXED_VERSION or product != FIXED_VERSION:
        failures.append("fixed version %s / %s, expected %s" % (numbers, product, FIXED_VERSION))
    strings = {}
    translations = []
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            if entry.Key == b"StringFileInfo":
                for table in entry.StringTable:
                    block = table.LangID.decode().lower()
                    if block != STRING_BLOCK:
                        failures.append("string block %s, expected %s" % (block, STRING_BLOCK))
                    for key, value in table.entries.items():
                        strings[key.decode()] = value.decode()
            elif entry.Key == b"VarFileInfo":
                for var in entry.Var:
                    for value in var.entry.values():
                        translations.append(value)
    for key, expected in VERSION_STRINGS.items():
        if strings.get(key) != expected:
            failures.append("version string %s is %r, expected %r" % (key, strings.get(key), expected))
    expected_translation = "0x%04x 0x%04x" % TRANSLATION
    if [t.lower() for t in translations] != [expected_translation]:
        failures.append("translation %s, expected %s" % (translations, expected_translation))


def objdump_for(machine):
    tool = "i686-w64-mingw32-objdump" if machine == "i386" else "x86_64-w64-mingw32-objdump"
    return shutil.which(tool) or shutil.which("objdump")


def first_return(path, pe, rva, machine):
    """The first return instruction of the function at `rva`, as objdump prints it."""
    start = pe.OPTIONAL_HEADER.ImageBase + rva
    disassembly = subprocess.run(
        [objdump_for(machine), "-d", "--no-show-raw-insn", "--start-address=0x%x" % start,
         "--stop-address=0x%x" % (start + 4096), path],
        capture_output=True, text=True)
    if disassembly.returncode != 0:
        return None
    listing = disassembly.stdout
    for line in listing.splitlines():
        match = re.match(r"\s*[0-9a-f]+:\s+(ret[lq]?\b.*)$", line)
        if match:
            return match.group(1).strip()
    return None


def check_calling_conventions(path, pe, machine, failures):
    if machine != "i386":
        return
    exports = {name: address for name, address in exports_of(pe).values()}
    for name in STDCALL_ONE_POINTER:
        if name not in exports:
            continue
        instruction = first_return(path, pe, exports[name], machine)
        if instruction is None or not re.match(r"ret[l]?\s+\$0x4$", instruction):
            failures.append("%s returns with %r, not `ret $0x4` (__stdcall with one pointer)" % (name, instruction))


def check(path, machine):
    failures = []
    try:
        pe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as error:
        return ["cannot read %s: %s" % (path, error)]
    check_machine(pe, machine, failures)
    check_exports(pe, failures)
    check_imports(pe, failures)
    check_version(pe, failures)
    check_calling_conventions(path, pe, machine, failures)
    return failures


def run(description, check_function):
    """The command line shared by the checks of built DLLs: MODULE [--machine M]."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--machine", choices=sorted(MACHINES), default="i386")
    parser.add_argument("module")
    arguments = parser.parse_args()
    failures = check_function(arguments.module, arguments.machine)
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("ok: %s (%s): machine, exports, imports, version resource%s" % (
            arguments.module, arguments.machine, ", stdcall exports" if arguments.machine == "i386" else ""))
    return 1 if failures else 0


def main():
    return run(__doc__.splitlines()[0], check)


if __name__ == "__main__":
    sys.exit(main())
