#!/usr/bin/env python3
"""Checks the Windows release a user unpacks: the updater, a PE32+ program of the GUI
subsystem; the flashing tool, which imports Windows' own DLLs only; every DLL that any program
or DLL imports, followed through, either Windows' own or in the folder; no DLL that nothing
imports; nothing left with debug information; the zip holding exactly that folder.

Usage: check_release.py OBJDUMP FOLDER ZIP TOOL (the tool's path in the folder)"""
import os
import subprocess
import sys
import zipfile

import pe_imports


def headers(objdump, path):
    return subprocess.run([objdump, "-p", "-h", path], check=True, capture_output=True,
                          text=True).stdout


def main():
    objdump, folder, archive, tool_path = sys.argv[1:5]
    errors = []
    updater = os.path.join(folder, "orvik-updater.exe")
    tool = os.path.join(folder, *tool_path.split("/"))
    for path in (updater, tool, os.path.join(folder, "qt.conf"),
                 os.path.join(folder, "plugins", "platforms", "qwindows.dll")):
        if not os.path.isfile(path):
            errors.append(f"missing: {os.path.relpath(path, folder)}")
    if errors:
        sys.exit("\n".join(errors))

    updater_headers = headers(objdump, updater)
    if "(PE32+)" not in updater_headers or "(Windows GUI)" not in updater_headers:
        errors.append("orvik-updater.exe is no PE32+ program of the GUI subsystem")
    others = [name for name in pe_imports.imports(objdump, tool)
              if not pe_imports.is_windows_dll(name)]
    if others:
        errors.append(f"{tool_path} imports {', '.join(others)}")

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
