#!/usr/bin/env python3
"""Installs the Windows release with its installer, silently, under Wine, and checks what a
user gets: the release's files in Program Files, a Start-menu shortcut that starts the updater
in its own folder, an entry in the list of installed programs, and the bootloader's driver
package staged, its licence among the installed licences; then uninstalls it, silently too, and
checks that all of it is gone again. Before, with the driver deselected (/NODRIVER), the package
must not be staged. WINEPREFIX names the Wine prefix to use, which is made anew.

Usage: check_installer.py WINE_RUN SETUP.exe RELEASE_FOLDER [UNINSTALLER]
(UNINSTALLER: the uninstaller the installed one must equal, as makensis finished it)"""
import filecmp
import os
import shutil
import struct
import subprocess
import sys

NAME = "Orvik Updater"
FOLDER = "C:\\Program Files\\" + NAME
KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvikUpdater"
# Wine stages a driver package under its own name (Windows would name it oemNN.inf), and its
# removal leaves the file: the helper's record of what it added tells that it ran.
STAGED_INF = "C:\\windows\\inf\\STM32Bootloader.inf"
DRIVER_RECORD = "HKLM\\Software\\Kestrane Audio\\Orvik Updater"


def run(wine_run, *arguments):
    result = subprocess.run([wine_run, *arguments], capture_output=True, text=True, timeout=300)
    # The uninstaller goes on in a copy of itself: wait for every program of the prefix.
    subprocess.run(["wineserver", "--wait"], timeout=300)
    return result


def unix(prefix, windows_path):
    drive, rest = windows_path.split(":\\", 1)
    return os.path.join(prefix, "drive_" + drive.lower(), *rest.split("\\"))


def shortcut(path):
    """The target and the working directory of a shell link (.lnk)."""
    data = open(path, "rb").read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    pos = 0x4C
    if flags & 0x01:  # a target ID list
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    target = None
    if flags & 0x02:  # link info, with the target's local path
        size, _, _, _, base = struct.unpack_from("<IIIII", data, pos)
        end = data.index(b"\0", pos + base)
        target = data[pos + base:end].decode("latin-1")
        pos += size
    strings = []
    for bit in (0x04, 0x08, 0x10, 0x20, 0x40):  # name, relative path, working dir, ...
        if flags & bit:
            count = struct.unpack_from("<H", data, pos)[0]
            width = 2 if flags & 0x80 else 1
            text = data[pos + 2:pos + 2 + count * width]
            strings.append((bit, text.decode("utf-16-le" if width == 2 else "latin-1").rstrip("\0")))
            pos += 2 + count * width
    return target, dict(strings).get(0x10)


def files(folder):
    return sorted(os.path.relpath(os.path.join(root, name), folder)
                  for root, _, names in os.walk(folder) for name in names)


def main():
    wine_run, setup, release = sys.argv[1:4]
    uninstaller = sys.argv[4] if len(sys.argv) > 4 else None
    prefix = os.environ["WINEPREFIX"]
    errors = []
    installed = unix(prefix, FOLDER)
    link = unix(prefix, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\"
                + NAME + ".lnk")

    shutil.rmtree(prefix, ignore_errors=True)
    staged = unix(prefix, STAGED_INF)
    result = run(wine_run, setup, "/S", "/NODRIVER")
    if result.returncode != 0:
        sys.exit(f"the installer (/NODRIVER) ended with {result.returncode}: {result.stderr}")
    if os.path.exists(staged):
        errors.append("the driver package was staged with /NODRIVER")
    run(wine_run, FOLDER + "\\uninstall.exe", "/S")

    result = run(wine_run, setup, "/S")
    if result.returncode != 0:
        sys.exit(f"the installer ended with {result.returncode}: {result.stderr}")
    if not os.path.isfile(staged) or not filecmp.cmp(
            staged, os.path.join(release, "driver", "STM32Bootloader.inf"), shallow=False):
        errors.append("the driver package was not staged as shipped")
    if not os.path.isfile(os.path.join(installed, "licenses", "SLA0048.txt")):
        errors.append("the driver package's licence is not among the installed licences")
    if run(wine_run, "reg", "query", DRIVER_RECORD).returncode != 0:
        errors.append("the helper did not record the package it staged")
    expected = files(release) + ["uninstall.exe"]
    if files(installed) != sorted(expected):
        errors.append(f"installed files differ: {sorted(set(files(installed)) ^ set(expected))}")
    changed = [name for name in files(release)
               if not filecmp.cmp(os.path.join(release, name), os.path.join(installed, name),
                                  shallow=False)]
    if uninstaller and not filecmp.cmp(uninstaller, os.path.join(installed, "uninstall.exe"),
                                       shallow=False):
        changed.append("uninstall.exe")
    if changed:
        errors.append(f"installed differently: {changed}")
    if not os.path.isfile(link):
        errors.append("no Start-menu shortcut")
    else:
        target, working = shortcut(link)
        print(f"shortcut: {target} in {working}")
        if target != FOLDER + "\\orvik-updater.exe" or working != FOLDER:
            errors.append(f"the shortcut starts {target} in {working}")
    entry = run(wine_run, "reg", "query", KEY, "/v", "UninstallString")
    if FOLDER + "\\uninstall.exe" not in entry.stdout:
        errors.append(f"no uninstall entry: {entry.stdout} {entry.stderr}")

    result = run(wine_run, FOLDER + "\\uninstall.exe", "/S")
    if result.returncode != 0:
        errors.append(f"the uninstaller ended with {result.returncode}")
    if os.path.exists(installed):
        errors.append(f"left after uninstalling: {files(installed) or 'the empty folder'}")
    if os.path.exists(link):
        errors.append("the shortcut was left")
    if run(wine_run, "reg", "query", KEY).returncode == 0:
        errors.append("the uninstall entry was left")
    if "DriverPackage" in run(wine_run, "reg", "query", DRIVER_RECORD).stdout:
        errors.append("the uninstaller did not remove the driver package it had added")
    for error in errors:
        print("FAIL:", error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
