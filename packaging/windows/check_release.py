#!/usr/bin/env python3
"""Checks the Windows release a user unpacks: the updater, a PE32+ program of the GUI
subsystem; the flashing tool and the driver helper, which import Windows' own DLLs only, the
helper a PE32+ console program that asks for administrator rights; the driver package, exactly
its files and as its SHA256SUMS gives them, its licence in the licences folder too; every DLL
that any program or DLL imports, followed through, either Windows' own or in the folder; no DLL
that nothing imports; nothing left with debug information; the zip holding exactly that folder.

Usage: check_release.py OBJDUMP FOLDER ZIP TOOL DRIVER
(TOOL: the tool's path in the folder; DRIVER: the folder the driver package was given in)"""
import hashlib
import os
import subprocess
import sys
import zipfile

import pe_imports


def headers(objdump, path):
    return subprocess.run([objdump, "-p", "-h", path], check=True, capture_output=True,
                          text=True).stdout


def main():
    objdump, folder, archive, tool_path, driver = sys.argv[1:6]
    errors = []
    updater = os.path.join(folder, "orvik-updater.exe")
    helper = os.path.join(folder, "orvik-driver.exe")
    tool = os.path.join(folder, *tool_path.split("/"))
    for path in (updater, helper, tool, os.path.join(folder, "qt.conf"),
                 os.path.join(folder, "plugins", "platforms", "qwindows.dll")):
        if not os.path.isfile(path):
            errors.append(f"missing: {os.path.relpath(path, folder)}")
    if errors:
        sys.exit("\n".join(errors))

    updater_headers = headers(objdump, updater)
    if "(PE32+)" not in updater_headers or "(Windows GUI)" not in updater_headers:
        errors.append("orvik-updater.exe is no PE32+ program of the GUI subsystem")
    for path in (tool, helper):
        others = [name for name in pe_imports.imports(objdump, path)
                  if not pe_imports.is_windows_dll(name)]
        if others:
            errors.append(f"{os.path.relpath(path, folder)} imports {', '.join(others)}")
    helper_headers = headers(objdump, helper)
    if "(PE32+)" not in helper_headers or "(Windows CUI)" not in helper_headers:
        errors.append("orvik-driver.exe is no PE32+ console program")
    if b'level="requireAdministrator"' not in open(helper, "rb").read():
        errors.append("orvik-driver.exe does not ask for administrator rights")

    sums = {}
    for line in open(os.path.join(driver, "SHA256SUMS")):
        digest, name = line.split()
        sums[name] = digest
    package = os.path.join(folder, "driver")
    if sorted(os.listdir(package)) != sorted(sums):
        errors.append(f"driver\\ holds {sorted(os.listdir(package))}, not {sorted(sums)}")
    for name, digest in sums.items():
        shipped = [os.path.join(package, name)]
        if name.endswith(".txt"):  # the licence
            shipped.append(os.path.join(folder, "licenses", name))
        for path in shipped:
            data = open(path, "rb").read() if os.path.isfile(path) else b""
            if hashlib.sha256(data).hexdigest() != digest:
                errors.append(f"{os.path.relpath(path, folder)} differs from its SHA256SUMS")

    imported = set()
    for path in pe_imports.binaries(folder):
        imported.update(name.lower() for name in pe_imports.imports(objdump, path))
        if ".debug_" in headers(objdump, path):
            errors.append(f"not stripped: {os.path.relpath(path, folder)}")
    for name in os.listdir(folder):
        if name.lower().endswith(".dll") and name.lower() not in imported:
            errors.append(f"imported by nothing: {name}")

    top = os.path.basename(os.path.normpath(folder))
    shipped = {os.path.relpath(os.path.join(root, name), os.path.dirname(folder)).replace(
        os.sep, "/") for root, _, names in os.walk(folder) for name in names}
    with zipfile.ZipFile(archive) as z:
        zipped = {name for name in z.namelist() if not name.endswith("/")}
    if zipped != shipped:
        errors.append(f"the zip differs from {top}/: {sorted(zipped ^ shipped)[:10]}")

    try:
        pe_imports.check(objdump, folder)
    except SystemExit as missing:
        errors.append(f"imports not in the folder:\n{missing}")
    for error in errors:
        print("FAIL:", error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
