#!/usr/bin/env python3
"""Makes a program of the Windows release ready for Authenticode, and signs it when given a
certificate.

  sign.py FILE [COPY]

Always: pads FILE with zeros to a multiple of 8 bytes and writes its PE checksum, as signing
would. A signed file with its signature removed (osslsigncode remove-signature) is then these
very bytes again, which is how a signed release is checked against a build of its sources.

With ORVIK_SIGN_PFX and ORVIK_SIGN_PASSWORD_FILE (and optionally ORVIK_SIGN_TIMESTAMP_URL, an
RFC 3161 time-stamping service): signs FILE with SHA-256. COPY, if given, receives a copy of
the finished FILE.
"""
import os
import shutil
import struct
import subprocess
import sys

# Where the checksum lies: after the PE signature, the file header and 64 bytes of the
# optional header.
CHECKSUM_OFFSET = 4 + 20 + 64


def prepare(path):
    with open(path, "rb") as f:
        data = bytearray(f.read())
    data += bytes(-len(data) % 8)
    field = struct.unpack_from("<I", data, 0x3C)[0] + CHECKSUM_OFFSET
    struct.pack_into("<I", data, field, 0)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    struct.pack_into("<I", data, field, (total + len(data)) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    path = sys.argv[1]
    prepare(path)
    pfx = os.environ.get("ORVIK_SIGN_PFX")
    if pfx:
        password = os.environ.get("ORVIK_SIGN_PASSWORD_FILE")
        if not password:
            sys.exit("ORVIK_SIGN_PFX needs ORVIK_SIGN_PASSWORD_FILE")
        timestamp = os.environ.get("ORVIK_SIGN_TIMESTAMP_URL")
        signed = path + ".signed"
        if os.path.exists(signed):
            os.remove(signed)
        result = subprocess.run(
            ["osslsigncode", "sign", "-pkcs12", pfx, "-readpass", password, "-h", "sha256",
             "-n", "Orvik Updater", *(["-ts", timestamp] if timestamp else []),
             "-in", path, "-out", signed], capture_output=True, text=True)
        if result.returncode != 0:
            sys.exit(f"signing {path} failed:\n{result.stdout}{result.stderr}")
        os.replace(signed, path)
    if len(sys.argv) == 3:
        shutil.copyfile(path, sys.argv[2])


if __name__ == "__main__":
    main()
