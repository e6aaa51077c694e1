#!/bin/bash
# The main job: installs what is missing, builds both targets and shows the
# shipped 32-bit module: where it is, its exports and its version resource.
source "$(dirname "$0")/common.sh"

ensure_packages
build_all
module=$BUILD/i686/bin/halvo_plugin.dll
say "the plug-in module: $module"
/usr/bin/python3 - "$module" <<'PY'
import sys, pefile
pe = pefile.PE(sys.argv[1])
print("machine: 0x%04x (i386 = 0x014c)" % pe.FILE_HEADER.Machine)
print("exports:")
for sym in pe.DIRECTORY_ENTRY_EXPORT.symbols:
    print("  %d %s" % (sym.ordinal, sym.name.decode()))
print("imports: " + ", ".join(e.dll.decode() for e in pe.DIRECTORY_ENTRY_IMPORT))
print("version resource:")
for info in pe.FileInfo:
    for entry in info:
        if entry.Key == b"StringFileInfo":
            for table in entry.StringTable:
                print("  block %s" % table.LangID.decode())
                for key, value in table.entries.items():
                    print("    %s = %s" % (key.decode(), value.decode()))
        elif entry.Key == b"VarFileInfo":
            for var in entry.Var:
                print("  translation %s" % " ".join(var.entry.values()))
PY
