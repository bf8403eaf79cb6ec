#!/usr/bin/env python3
"""Checks the application .ico: 16..128 as 32-bit BMP/DIB, 256 as PNG.

Usage: check_icon.py path/to/orvik-updater.ico
"""
import struct
import sys

EXPECTED = {16: "BMP", 32: "BMP", 48: "BMP", 72: "BMP", 128: "BMP", 256: "PNG"}
PNG_SIG = b"\x89PNG\r\n\x1a\n"


def check(path):
    data = open(path, "rb").read()
    if len(data) < 6:
        return ["file too short for an ICONDIR"]
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        return [f"not an icon file (reserved={reserved}, type={kind})"]
    if len(data) < 6 + 16 * count:
        return [f"directory of {count} entries runs past end of file"]
    errors, seen = [], []
    for i in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w, h = w or 256, h or 256  # 0 in the directory means 256
        blob = data[offset:offset + size]
        if len(blob) != size:
            errors.append(f"image {i}: data runs past end of file")
            continue
        if blob.startswith(PNG_SIG):
            fmt = "PNG"
            depth, colour = blob[24], blob[25]
            bpp = depth * {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(colour, 0)
            real_w, real_h = struct.unpack_from(">II", blob, 16)
        else:
            fmt = "BMP"
            hdr, real_w, dib_h, _, bpp, comp = struct.unpack_from("<IiiHHI", blob, 0)
            real_h = dib_h // 2  # DIB height covers XOR and AND masks
            if hdr != 40 or comp != 0:
                errors.append(f"image {i}: header size {hdr}, compression {comp}; "
                              "expected an uncompressed BITMAPINFOHEADER (40, 0)")
        print(f"image {i}: {w}x{h} {fmt} {bpp} bpp (dir bitcount {bits}), {size} bytes")
        seen.append(w)
        if (real_w, real_h) != (w, h) or w != h:
            errors.append(f"image {i}: directory says {w}x{h}, data is {real_w}x{real_h}")
        if bpp != 32 or bits != 32:
            errors.append(f"image {i}: {bpp} bpp (directory {bits}), expected 32")
        if EXPECTED.get(w, fmt) != fmt:
            errors.append(f"image {i}: {w}x{w} stored as {fmt}, expected {EXPECTED[w]}")
    if sorted(seen) != sorted(EXPECTED):
        errors.append(f"sizes {sorted(seen)}, expected {sorted(EXPECTED)}")
    return errors


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: check_icon.py FILE.ico")
    problems = check(sys.argv[1])
    for p in problems:
        print("error:", p, file=sys.stderr)
    sys.exit(1 if problems else 0)
