#!/usr/bin/python3
"""Before/after pictures of a Wine prefix for the installer tests.

  snapshot.py take PREFIX OUT.json      the registry (system.reg, user.reg, as
                                        wineserver last saved them: stop it
                                        first, or give take() the hives as
                                        registry_save.exe wrote them) and the
                                        files below drive_c
  snapshot.py diff BEFORE AFTER         prints what AFTER adds, removes and
                                        changes, as 'reg' and 'file' lines

Registry items are 'HKLM\\Key' (a key) and 'HKLM\\Key\\\\name=value' (one value;
'@' is a key's default value); file items are 'C:\\path' (a folder) and
'C:\\path=size:sha256' (a file). Key names are compared as Windows compares
them, without regard to case. Wine's own scratch places (Temp folders, the
Windows folder, logs) are left out: they change with every program run.
"""

import functools
import hashlib
import json
import os
import re
import sys

HIVES = (("system.reg", "HKLM"), ("user.reg", "HKCU"))
# Relative to drive_c, lower case.
SKIPPED_FOLDERS = ("windows", "users/root/temp", "users/root/appdata/local/temp", "users/public/temp")


ESCAPE = re.compile(r"\\(x[0-9a-fA-F]{1,4}|.)", re.S)
SIMPLE_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "0": "\0"}
VALUE_LINE = re.compile(r'"((?:[^"\\]|\\.)*)"=(.*)$')


def unescaped(match):
    code = match.group(1)
    if code[0] == "x" and len(code) > 1:
        return chr(int(code[1:], 16))
    return SIMPLE_ESCAPES.get(code, code)


# Pictures are taken again and again of hives that hardly change, and the
# emulated guest runs Python slowly: each text is unescaped once.
@functools.lru_cache(maxsize=None)
def unescape(text):
    """A string as Wine writes it: backslash escapes, \\x{hex} for other characters."""
    return ESCAPE.sub(unescaped, text) if "\\" in text else text


# A hive is read for every picture, and between two pictures most of its keys
# are unchanged: each key's block of lines (from its "[" line to the next) is
# parsed once and its items kept, by the block's text.
PARSED_BLOCKS = {}


def read_hive(path, root):
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        text = f.read()
    items = {}
    # Only a key's line starts with "[": values start with '"' or '@', and the
    # continuation of a long value with spaces.
    for number, block in enumerate(text.split("\n[")):
        if number:
            block = "[" + block
        parsed = PARSED_BLOCKS.get((root, block))
        if parsed is None:
            parsed = PARSED_BLOCKS[(root, block)] = parse_block(block, root)
        items.update(parsed)
    return items


def parse_block(block, root):
    """The items of one key's lines (or of the lines before the first key)."""
    items = {}
    key = None
    pending = ""
    for line in block.split("\n"):
        if pending:
            line = pending + line.lstrip()
            pending = ""
        if line.endswith("\\") and key is not None and not line.startswith("["):
            pending = line[:-1]
            continue
        if line.startswith("["):
            end = line.rfind("]")
            key = root + "\\" + unescape(line[1:end])
            items[key.lower()] = key
        elif key is None or not line or line.startswith("#") or line.startswith(";"):
            continue
        elif line.startswith("@="):
            item = key + "\\\\@=" + line[2:]
            items[item.lower()] = item
        elif line.startswith('"'):
            m = VALUE_LINE.match(line)
            if m:
                item = key + "\\\\" + unescape(m.group(1)) + "=" + m.group(2)
                # The value's name and data keep their case: only key names are case-free.
                items[(key.lower() + "\\\\" + unescape(m.group(1)).lower() + "=" + m.group(2))] = item
    return items


def value_text(data):
    """A saved value's data in plain words: strings unquoted, dwords as numbers."""
    if data.startswith('"') and data.endswith('"'):
        return unescape(data[1:-1])
    if data.startswith("dword:"):
        return str(int(data[6:], 16))
    return data


def read_files(drive_c):
    items = {}
    for folder, subfolders, files in os.walk(drive_c):
        relative = os.path.relpath(folder, drive_c)
        relative = "" if relative == "." else relative
        if relative.lower() in SKIPPED_FOLDERS:
            subfolders[:] = []
            continue
        windows = "C:\\" + relative.replace("/", "\\")
        if relative:
            items[windows.lower()] = windows
        for name in files:
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            digest = hashlib.sha256()
            with open(path, "rb") as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    digest.update(block)
            item = "%s\\%s=%d:%s" % (windows.rstrip("\\"), name, os.path.getsize(path), digest.hexdigest())
            items[item.lower()] = item
        subfolders.sort()
    return items


def take(prefix, out=None, hive_files=None):
    """The picture of PREFIX, also written to OUT when given. HIVE_FILES: {root:
    file} of hives saved in Wine's form while it runs, instead of the prefix's own."""
    registry = {}
    for name, root in HIVES:
        path = (hive_files or {}).get(root) or os.path.join(prefix, name)
        registry.update(read_hive(path, root))
    snapshot = {"registry": registry, "files": read_files(os.path.join(prefix, "drive_c"))}
    if out:
        with open(out, "w", encoding="utf-8", errors="surrogateescape") as f:
            json.dump(snapshot, f)
    return snapshot


def load(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        return json.load(f)


def differences(before, after):
    """('+'|'-', kind, item) for every item only one side has, in order."""
    lines = []
    for kind, field in (("reg", "registry"), ("file", "files")):
        old, new = before[field], after[field]
        for k in sorted(set(new) - set(old)):
            lines.append(("+", kind, new[k]))
        for k in sorted(set(old) - set(new)):
            lines.append(("-", kind, old[k]))
    return lines


def main(argv):
    if len(argv) == 4 and argv[1] == "take":
        take(argv[2], argv[3])
        return 0
    if len(argv) == 4 and argv[1] == "diff":
        for sign, kind, item in differences(load(argv[2]), load(argv[3])):
            print("%s %s %s" % (sign, kind, item))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
