#!/usr/bin/env python3
"""Compiles the Windows resource script with windres and checks what it holds:
one icon group "IDI_ICON1" (U.S. English) of six 32-bit images, and nothing else.

Usage: check_winres.py WINDRES RC_FILE"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

RT_ICON, RT_GROUP_ICON = 3, 14
US_ENGLISH = 0x0409


def read_id(data, pos):
    if struct.unpack_from("<H", data, pos)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def entries(data):
    pos = 0
    while pos < len(data):
        size, header = struct.unpack_from("<II", data, pos)
        rtype, p = read_id(data, pos + 8)
        name, p = read_id(data, p)
        p = (p + 3) & ~3
        language = struct.unpack_from("<H", data, p + 6)[0]
        body = data[pos + header:pos + header + size]
        pos = (pos + header + size + 3) & ~3
        if size:  # the leading empty entry marks the file format
            yield rtype, name, language, body


def main():
    windres, rc = sys.argv[1], os.path.abspath(sys.argv[2])
    if not shutil.which(windres):
        print(f"SKIP: {windres} not found (Debian package binutils-mingw-w64-x86-64)")
        return 77
    with tempfile.TemporaryDirectory() as work:
        res = os.path.join(work, "icon.res")
        subprocess.run([windres, "--preprocessor=cpp", "-I", os.path.dirname(rc), "-i", rc,
                        "-O", "res", "-o", res], check=True, cwd=os.path.dirname(rc))
        data = open(res, "rb").read()
    found = list(entries(data))
    groups = [e for e in found if e[0] == RT_GROUP_ICON]
    icons = {e[1]: e for e in found if e[0] == RT_ICON}
    others = [e[:3] for e in found if e[0] not in (RT_ICON, RT_GROUP_ICON)]
    errors = []
    if others:
        errors.append(f"unexpected resources: {others}")
    if [(g[1], g[2]) for g in groups] != [("IDI_ICON1", US_ENGLISH)]:
        errors.append(f"icon groups: {[(g[1], hex(g[2])) for g in groups]}")
    else:
        group = groups[0][3]
        count = struct.unpack_from("<H", group, 4)[0]
        sizes = []
        for i in range(count):
            w, h, _, _, _, bits, _, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            size = w or 256
            image = icons.get(ident)
            kind = "PNG" if image and image[3].startswith(b"\x89PNG") else "BMP"
            print(f"image {ident}: {size}x{h or 256} {bits} bpp {kind}")
            sizes.append((size, bits, kind))
            if not image or image[2] != US_ENGLISH:
                errors.append(f"image {ident} missing or not U.S. English")
        expected = [(s, 32, "BMP") for s in (16, 32, 48, 72, 128)] + [(256, 32, "PNG")]
        if sorted(sizes) != expected:
            errors.append(f"images {sorted(sizes)} != {expected}")
        if len(icons) != count:
            errors.append(f"{len(icons)} icon images for {count} group entries")
    for error in errors:
        print("FAIL:", error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
