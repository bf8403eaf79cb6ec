#!/usr/bin/env python3
"""Checks the folder of the Linux download before it is packed: that it runs on a desktop that
has only the system libraries of system-libraries.txt, and holds nothing of the machine that
built it. Fails, one line per finding, when

- a program or library of the folder needs a library that is neither on the system list nor
  found in the folder through its own RUNPATH, or the folder ships a library of that list;
- a RUNPATH does not begin with $ORIGIN or leads out of the folder, or an RPATH is set (unlike
  a RUNPATH it reaches the libraries that a library loads, and overrides LD_LIBRARY_PATH);
- an ELF file is not x86-64, or asks for a glibc symbol version newer than --max-glibc;
- a file holds one of the --forbid paths (the checkout, the build folder, the build root);
- a link leads out of the folder, or one of the files the updater needs is missing.

Usage: check_folder.py FOLDER --system LIST [--max-glibc 2.31] [--forbid PATH ...]
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import elffile  # noqa: E402

# The launcher, the program with its qt.conf, the access helper, and the tool at the
# updater's relative path.
REQUIRED = ("orvik-updater", "bin/orvik-updater", "bin/qt.conf", "orvik-access",
            "dfu-util-0.11/win64/dfu-util-static.exe", "udev/70-orvik-updater.rules",
            "README.txt", "licenses/README.txt")


def read_list(path):
    with open(path, encoding="utf-8") as f:
        return {line.strip() for line in f if line.strip() and not line.startswith("#")}


def version_tuple(text):
    return tuple(int(part) for part in text.split("."))


def runpath_dirs(folder, name, elf, failures):
    """The folders the RUNPATH of `name` names, as absolute paths; a bad entry is a failure."""
    dirs = []
    if elf.rpath is not None:
        failures.append(f"{name}: has an RPATH ({':'.join(elf.rpath)}), not a RUNPATH")
    for entry in elf.runpath or []:
        if entry not in ("$ORIGIN", "${ORIGIN}") and \
                not entry.startswith(("$ORIGIN/", "${ORIGIN}/")):
            failures.append(f"{name}: RUNPATH entry '{entry}' is not relative to $ORIGIN")
            continue
        rest = entry.split("}", 1)[1] if entry.startswith("${") else entry[len("$ORIGIN"):]
        resolved = os.path.normpath(os.path.dirname(os.path.join(folder, name)) + rest)
        if resolved != folder and not resolved.startswith(folder + os.sep):
            failures.append(f"{name}: RUNPATH entry '{entry}' leads out of the folder")
            continue
        dirs.append(resolved)
    return dirs


def check_elf(folder, name, system, max_glibc, failures):
    try:
        elf = elffile.ElfFile(os.path.join(folder, name))
    except (ValueError, KeyError, IndexError, OSError) as error:
        failures.append(f"{name}: cannot be read as ELF: {error}")
        return
    if elf.machine != elffile.EM_X86_64:
        failures.append(f"{name}: not an x86-64 file (machine {elf.machine})")
        return
    dirs = runpath_dirs(folder, name, elf, failures)
    for needed in elf.needed:
        if needed in system:
            continue
        if not any(os.path.isfile(os.path.join(d, needed)) for d in dirs):
            where = f"RUNPATH {':'.join(elf.runpath)}" if elf.runpath else "no RUNPATH"
            failures.append(f"{name}: needs {needed}, which is neither a system library nor in "
                            f"the folder through its {where}")
    for library, versions in elf.versions.items():
        for version in versions:
            if version.startswith("GLIBC_") and version[6:][:1].isdigit() and \
                    version_tuple(version[6:]) > max_glibc:
                failures.append(f"{name}: asks {library} for {version}, newer than glibc "
                                f"{'.'.join(map(str, max_glibc))}")


def check(folder, system, max_glibc, forbidden):
    folder = os.path.abspath(folder)
    failures = []
    elves = 0
    files = 0
    for required in REQUIRED:
        if not os.path.isfile(os.path.join(folder, required)):
            failures.append(f"{required}: missing")
    needles = [path.encode() for path in forbidden]
    for top, dirnames, filenames in os.walk(folder):
        dirnames.sort()
        links = [d for d in dirnames if os.path.islink(os.path.join(top, d))]
        for entry in sorted(filenames) + links:
            path = os.path.join(top, entry)
            name = os.path.relpath(path, folder)
            if os.path.islink(path):
                target = os.path.realpath(path)
                if target != folder and not target.startswith(folder + os.sep):
                    failures.append(f"{name}: a link out of the folder, to {os.readlink(path)}")
                continue
            files += 1
            if entry in system:
                failures.append(f"{name}: a system library, which must come from the system")
            with open(path, "rb") as f:
                data = f.read()
            for needle in needles:
                if needle in data:
                    failures.append(f"{name}: holds the build machine's path {needle.decode()}")
            if data[:4] == b"\x7fELF":
                elves += 1
                check_elf(folder, name, system, max_glibc, failures)
    return failures, files, elves


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--system", required=True, help="the list of system libraries")
    parser.add_argument("--max-glibc", default="2.31")
    parser.add_argument("--forbid", action="append", default=[], help="a path of the build")
    args = parser.parse_args()
    if not os.path.isdir(args.folder):
        print(f"FAIL: {args.folder}: no such folder")
        return 1
    failures, files, elves = check(args.folder, read_list(args.system),
                                   version_tuple(args.max_glibc), [p for p in args.forbid if p])
    for failure in failures:
        print(f"FAIL: {failure}")
    if failures:
        print(f"{len(failures)} findings in {args.folder}")
        return 1
    print(f"PASS: {args.folder}: {files} files, {elves} ELF files; every library they need is "
          f"in the folder through a RUNPATH relative to $ORIGIN or on the system list; "
          f"glibc {args.max_glibc} suffices; no path of the build")
    return 0


if __name__ == "__main__":
    sys.exit(main())
