#!/usr/bin/python3
"""Static checks of a built halvo_engine.dll, read the way COM and regsvr32 read it.

Checks: the PE machine; exactly the five COM server exports by name; imports
only from Windows system DLLs; the version resource names the engine; and, for
32-bit modules, that every export is __stdcall with its argument bytes (COM
calls them as STDAPI: DllGetClassObject pops 12 bytes, DllInstall 8, the others
none). Exits 0 when every check passes, 1 with one line per failure otherwise."""

import re
import sys

import pefile

import check_module

EXPORTS = {"DllCanUnloadNow": 0, "DllGetClassObject": 12, "DllInstall": 8, "DllRegisterServer": 0,
           "DllUnregisterServer": 0}
SYSTEM_DLLS = check_module.SYSTEM_DLLS | {"crypt32.dll", "urlmon.dll"}


def check(path, machine):
    failures = []
    try:
        pe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as error:
        return ["cannot read %s: %s" % (path, error)]
    check_module.check_machine(pe, machine, failures)
    exports = {name: address for name, address in check_module.exports_of(pe).values()}
    if set(exports) != set(EXPORTS):
        failures.append("exports are %s, expected %s" % (sorted(exports), sorted(EXPORTS)))
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        name = entry.dll.decode().lower()
        if name not in SYSTEM_DLLS and not name.startswith("api-ms-win-"):
            failures.append("imports from a non-system DLL: %s" % entry.dll.decode())
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            if entry.Key == b"StringFileInfo":
                for table in entry.StringTable:
                    strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    if strings.get("OriginalFilename") != "halvo_engine.dll":
        failures.append("version resource OriginalFilename is %r" % strings.get("OriginalFilename"))
    if "OLESelfRegister" not in strings:
        failures.append("the version resource does not announce self-registration (OLESelfRegister)")
    if machine == "i386":
        for name, popped in EXPORTS.items():
            if name not in exports:
                continue
            instruction = check_module.first_return(path, pe, exports[name], machine)
            expected = r"ret[l]?$" if popped == 0 else r"ret[l]?\s+\$0x%x$" % popped
            if instruction is None or not re.match(expected, instruction):
                failures.append("%s returns with %r: not __stdcall popping %d bytes" % (name, instruction, popped))
    return failures


def main():
    return check_module.run(__doc__.splitlines()[0], check)


if __name__ == "__main__":
    sys.exit(main())
