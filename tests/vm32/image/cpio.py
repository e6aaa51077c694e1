#!/usr/bin/python3
"""Writes the initramfs: the folder given as argument as a newc cpio archive on
standard output (owner root, modes and links kept), without needing cpio."""

import os
import stat
import sys


def header(name, mode, mtime, size, nlink, inode):
    fields = (inode, mode, 0, 0, nlink, mtime, size, 0, 0, 0, 0, len(name) + 1, 0)
    data = ("070701" + "".join("%08X" % value for value in fields)).encode() + name.encode() + b"\0"
    return data + b"\0" * (-len(data) % 4)


def main(root):
    out = sys.stdout.buffer
    inode = 1
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        relative = os.path.relpath(folder, root)
        entries = ([relative] if relative != "." else []) + \
            [os.path.normpath(os.path.join(relative, name)) for name in sorted(files)]
        for entry in entries:
            path = os.path.join(root, entry)
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                data = os.readlink(path).encode()
            elif stat.S_ISREG(info.st_mode):
                with open(path, "rb") as source:
                    data = source.read()
            else:
                data = b""
            nlink = 2 if stat.S_ISDIR(info.st_mode) else 1
            out.write(header(entry, info.st_mode, int(info.st_mtime), len(data), nlink, inode))
            out.write(data + b"\0" * (-len(data) % 4))
            inode += 1
    out.write(header("TRAILER!!!", 0, 0, 0, 1, inode))


if __name__ == "__main__":
    main(sys.argv[1])
