#!/usr/bin/env python3
"""The DLLs that Windows programs import, read from their PE import tables with objdump.

  pe_imports.py OBJDUMP deploy FOLDER STRIP DLL_DIR...
      copies into FOLDER every DLL that a program or DLL under FOLDER imports, followed
      through, that is found in one of the DLL_DIRs (matched without regard to case, as
      Windows does), and strips the copies; what none of them holds must be a Windows
      system DLL.
  pe_imports.py OBJDUMP check FOLDER
      fails unless every import of every program or DLL under FOLDER is a Windows system
      DLL or lies in FOLDER itself or beside the importer (where Windows looks first).
"""
import os
import shutil
import subprocess
import sys

# What every 64-bit Windows 10 or later has in System32.
WINDOWS_DLLS = {name.lower() for name in (
    "ADVAPI32.dll", "COMCTL32.dll", "COMDLG32.dll", "CRYPT32.dll", "d3d11.dll", "d3d9.dll",
    "DNSAPI.dll", "dwmapi.dll", "dxgi.dll", "GDI32.dll", "IMM32.dll", "IPHLPAPI.DLL",
    "KERNEL32.dll", "MPR.dll", "msvcrt.dll", "NETAPI32.dll", "newdev.dll", "ntdll.dll",
    "ole32.dll", "OLEAUT32.dll", "OPENGL32.dll", "SETUPAPI.dll", "SHELL32.dll", "SHLWAPI.dll",
    "USER32.dll", "USERENV.dll", "UxTheme.dll", "VERSION.dll", "WINMM.dll", "WINSPOOL.DRV",
    "WS2_32.dll", "WTSAPI32.dll")}


def imports(objdump, path):
    out = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    return [line.split("DLL Name:", 1)[1].strip() for line in out.splitlines()
            if "DLL Name:" in line]


def binaries(folder):
    for root, _, files in os.walk(folder):
        for name in sorted(files):
            if name.lower().endswith((".exe", ".dll")):
                yield os.path.join(root, name)


def names_in(folder):
    try:
        return {name.lower(): name for name in os.listdir(folder)}
    except FileNotFoundError:
        return {}


def is_windows_dll(name):
    return name.lower() in WINDOWS_DLLS or name.lower().startswith(("api-ms-win-", "ext-ms-"))


def deploy(objdump, folder, strip, dll_dirs):
    pending = list(binaries(folder))
    unknown = set()
    while pending:
        for name in imports(objdump, pending.pop()):
            if name.lower() in names_in(folder) or is_windows_dll(name):
                continue
            source = next((os.path.join(d, names_in(d)[name.lower()]) for d in dll_dirs
                           if name.lower() in names_in(d)), None)
            if source is None:
                unknown.add(name)
                continue
            target = os.path.join(folder, os.path.basename(source))
            shutil.copy2(source, target)
            subprocess.run([strip, "--strip-unneeded", target], check=True)
            pending.append(target)
    if unknown:
        sys.exit("not found, and not Windows' own: " + ", ".join(sorted(unknown)))


def check(objdump, folder):
    top = names_in(folder)
    missing = []
    count = 0
    for path in binaries(folder):
        count += 1
        beside = names_in(os.path.dirname(path))
        for name in imports(objdump, path):
            if not (is_windows_dll(name) or name.lower() in top or name.lower() in beside):
                missing.append(f"{os.path.relpath(path, folder)} imports {name}")
    if missing:
        sys.exit("\n".join(missing))
    print(f"{count} programs and DLLs: every import is Windows' own or in the folder")


def main():
    objdump, command, folder = sys.argv[1:4]
    if command == "deploy":
        deploy(objdump, folder, sys.argv[4], sys.argv[5:])
    elif command == "check":
        check(objdump, folder)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
