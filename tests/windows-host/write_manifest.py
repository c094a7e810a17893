#!/usr/bin/env python3
"""The manifest of an installed or unpacked tree, as the Windows steps compare it.

    write_manifest.py FOLDER > MANIFEST

One line per file below FOLDER, sorted: its path relative to FOLDER with
forward slashes, a tab, its numeric file version (the four numbers of the
VS_FIXEDFILEINFO in its version resource, the ones Windows Installer
compares) or "-" where it has none, a tab, its SHA-256 in lower-case hex.
"""
import hashlib
import os
import struct
import sys

# VS_FIXEDFILEINFO begins with this signature, then the structure's version,
# then the file version as two 32-bit numbers (major.minor, build.revision).
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def file_version(data):
    if data[:2] != b"MZ":
        return "-"
    at = data.find(FIXED_FILE_INFO_SIGNATURE)
    if at < 0:
        return "-"
    high, low = struct.unpack_from("<II", data, at + 8)
    return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"


def main(folder):
    lines = []
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                data = f.read()
            relative = os.path.relpath(path, folder).replace(os.sep, "/")
            lines.append(f"{relative}\t{file_version(data)}\t{hashlib.sha256(data).hexdigest()}\n")
    if not lines:
        sys.exit(f"write_manifest.py: no file below {folder}")
    sys.stdout.write("".join(sorted(lines)))


if __name__ == "__main__":
    main(sys.argv[1])
