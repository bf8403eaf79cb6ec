#!/usr/bin/env python3
"""Zips a folder so that the same files give the same bytes, wherever and whenever they are
zipped: entries sorted by name, each with the time SOURCE_DATE_EPOCH gives and fixed modes.

Usage: make_zip.py FOLDER ZIP (the entries are FOLDER's name and the paths below it)"""
import os
import sys
import time
import zipfile

# A zip holds times from 1980 on, to two seconds, without a zone: the epoch's UTC time.
EARLIEST = (1980, 1, 1, 0, 0, 0)


def main():
    folder, archive = sys.argv[1:3]
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    stamp = max(EARLIEST, time.gmtime(epoch)[:6])
    parent = os.path.dirname(os.path.abspath(folder))
    names = sorted(os.path.relpath(os.path.join(root, name), parent).replace(os.sep, "/")
                   for root, _, files in os.walk(folder) for name in files)
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name in names:
            entry = zipfile.ZipInfo(name, stamp)
            entry.create_system = 3  # Unix, so that the modes below are read
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(parent, name), "rb") as f:
                z.writestr(entry, f.read(), compresslevel=9)


if __name__ == "__main__":
    main()
