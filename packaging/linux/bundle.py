#!/usr/bin/env python3
"""Completes the folder of the Linux download, in the Debian 11 build root, after the updater,
the flashing tool and libusb were put into it: adds the Qt plugins and QML modules the updater
loads, every library that those and the programs need but the system list leaves to the
desktop (followed through, into lib/), the Debian copyright files of what it took from Debian,
a RUNPATH relative to $ORIGIN in each ELF file (patchelf), and the same modes on every file.

Usage: bundle.py FOLDER SYSTEM_LIST
"""

import glob
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import elffile  # noqa: E402

QT = "/usr/lib/x86_64-linux-gnu/qt5"
# Both display servers: xcb with its GL integrations, Wayland with its shells, decorations and
# buffer integrations; the compose input context, which xcb falls back to.
PLUGINS = (
    "platforms/libqxcb.so",
    "platforms/libqwayland-*.so",
    "xcbglintegrations/*.so",
    "platforminputcontexts/libcomposeplatforminputcontextplugin.so",
    "wayland-shell-integration/*.so",
    "wayland-decoration-client/*.so",
    "wayland-graphics-integration-client/*.so",
)
# The window's imports and what they import in turn; Debian's QtQuick.Dialogs shows the
# widgets' file dialog through QtQuick.PrivateWidgets.
QML_MODULES = ("QtQml", "QtQuick.2", "QtQuick/Window.2", "QtQuick/Dialogs", "QtQuick/Controls",
               "QtQuick/Layouts", "QtQuick/PrivateWidgets", "Qt/labs/folderlistmodel",
               "Qt/labs/settings")
# Modules of their own inside QtQml that the window does not use, and what only tools read.
QML_SKIPPED = ("Models.2", "WorkerScript.2", "StateMachine", "*.qmltypes", "*.qmlc")


def loader_paths():
    """soname -> path, for the x86-64 libraries the root's loader knows."""
    paths = {}
    listing = subprocess.run(["ldconfig", "-p"], check=True, capture_output=True, text=True)
    for line in listing.stdout.splitlines()[1:]:
        name, _, rest = line.strip().partition(" (")
        flags, _, path = rest.partition(") => ")
        if "x86-64" in flags and name not in paths:
            paths[name] = path
    return paths


def elf_files(folder):
    for top, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(top, name)
            if elffile.is_elf(path):
                yield path


def copy_qt(folder, copied):
    for pattern in PLUGINS:
        found = sorted(glob.glob(os.path.join(QT, "plugins", pattern)))
        if not found:
            sys.exit(f"bundle.py: no Qt plugin {pattern} in {QT}/plugins")
        for path in found:
            relative = os.path.relpath(path, os.path.join(QT, "plugins"))
            target = os.path.join(folder, "plugins", relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(path, target)
            copied.append(path)
    for module in QML_MODULES:
        source = os.path.join(QT, "qml", module)
        if not os.path.isdir(source):
            sys.exit(f"bundle.py: no QML module {module} in {QT}/qml")
        target = os.path.join(folder, "qml", module)
        shutil.copytree(source, target, ignore=shutil.ignore_patterns(*QML_SKIPPED))
        for top, _, files in os.walk(target):
            copied.extend(os.path.join(source, os.path.relpath(top, target), name)
                          for name in files)


def copy_libraries(folder, system, copied):
    """Every library an ELF file of the folder needs, neither on the system list nor shipped
    yet, into lib/, followed through until nothing is missing."""
    known = loader_paths()
    lib = os.path.join(folder, "lib")
    os.makedirs(lib, exist_ok=True)
    shipped = set(os.listdir(lib))
    pending = list(elf_files(folder))
    while pending:
        needed = elffile.ElfFile(pending.pop()).needed
        for name in needed:
            if name in system or name in shipped:
                continue
            if name not in known:
                sys.exit(f"bundle.py: {name} is needed but not installed in the build root")
            target = os.path.join(lib, name)
            shutil.copyfile(known[name], target)
            copied.append(os.path.realpath(known[name]))
            shipped.add(name)
            pending.append(target)
    return sorted(shipped)


def copy_copyrights(folder, copied):
    """The Debian copyright file of each package a shipped file came from, as its licence."""
    # With /usr merged, dpkg knows a file under /lib or /usr/lib, whichever its package names.
    names = set()
    for path in copied:
        path = os.path.realpath(path)
        names.add("*" + (path[len("/usr"):] if path.startswith("/usr/") else path))
    names = sorted(names)
    owners = subprocess.run(["dpkg", "-S"] + names, check=True, capture_output=True, text=True)
    packages = set()
    for line in owners.stdout.splitlines():
        for owner in line.rsplit(": ", 1)[0].split(", "):
            packages.add(owner.split(":")[0])
    packages = sorted(packages)
    target = os.path.join(folder, "licenses", "debian")
    os.makedirs(target, exist_ok=True)
    for package in packages:
        shutil.copyfile(f"/usr/share/doc/{package}/copyright",
                        os.path.join(target, f"{package}.txt"))
    return packages


def set_runpaths(folder):
    lib = os.path.join(folder, "lib")
    for path in elf_files(folder):
        if not elffile.ElfFile(path).dynamic:
            continue
        relative = os.path.relpath(lib, os.path.dirname(path))
        runpath = "$ORIGIN" if relative == "." else "$ORIGIN/" + relative
        subprocess.run(["patchelf", "--set-rpath", runpath, path], check=True)


def normalise_modes(folder):
    """Directories and programs 755, every other file 644, whoever built it."""
    for top, dirs, files in os.walk(folder):
        os.chmod(top, 0o755)
        for name in files:
            path = os.path.join(top, name)
            os.chmod(path, 0o755 if os.stat(path).st_mode & 0o111 else 0o644)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    folder, system_list = sys.argv[1:]
    with open(system_list, encoding="utf-8") as f:
        system = {line.strip() for line in f if line.strip() and not line.startswith("#")}
    copied = []
    copy_qt(folder, copied)
    shipped = copy_libraries(folder, system, copied)
    packages = copy_copyrights(folder, copied)
    set_runpaths(folder)
    normalise_modes(folder)
    print(f"bundle.py: {len(shipped)} libraries in lib/, from {len(packages)} Debian packages")


if __name__ == "__main__":
    main()
