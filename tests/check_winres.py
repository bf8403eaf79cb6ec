#!/usr/bin/env python3
"""Compiles the Windows resource script with windres, or reads the resources of a built
program, and checks what they hold: one icon group "IDI_ICON1" (U.S. English) of six 32-bit
images, and nothing else.

Usage: check_winres.py WINDRES RC_FILE|PROGRAM.exe"""
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


def pe_entries(data):
    """The resources of a PE program, from the three levels (type, name, language) of its
    .rsrc directory. windres loses the language of named entries when it reads a program."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional = struct.unpack_from("<HxxxxxxxxxxxxH", data, pe + 6)
    table = pe + 24 + optional
    for i in range(sections):
        name, _, rva, _, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            base, base_rva = raw, rva
            break
    else:
        return

    def directory(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for n in range(named + ids):
            key, value = struct.unpack_from("<II", data, base + offset + 16 + 8 * n)
            if key & 0x80000000:
                length = struct.unpack_from("<H", data, base + (key & 0x7FFFFFFF))[0]
                start = base + (key & 0x7FFFFFFF) + 2
                key = data[start:start + 2 * length].decode("utf-16-le")
            yield key, value

    for rtype, types in directory(0):
        for name, names in directory(types & 0x7FFFFFFF):
            for language, leaf in directory(names & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                start = base + rva - base_rva
                yield rtype, name, language, data[start:start + size]


def main():
    windres, rc = sys.argv[1], os.path.abspath(sys.argv[2])
    if not shutil.which(windres):
        print(f"SKIP: {windres} not found (Debian package binutils-mingw-w64-x86-64)")
        return 77
    if rc.lower().endswith(".exe"):
        found = list(pe_entries(open(rc, "rb").read()))
    else:
        with tempfile.TemporaryDirectory() as work:
            res = os.path.join(work, "icon.res")
            subprocess.run([windres, "--preprocessor=cpp", "-I", os.path.dirname(rc), "-i", rc,
                            "-O", "res", "-o", res], check=True, cwd=os.path.dirname(rc))
            found = list(entries(open(res, "rb").read()))
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
