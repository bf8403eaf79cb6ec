#!/usr/bin/env python3
"""Runs the release's driver helper under Wine on a fresh prefix, as the installer and the
updater run it: it stages the bootloader's driver package, whose INF lands in C:\\windows\\inf
with the bytes shipped; a second run finds it there; "remove" takes away what it added, and
then leaves the package alone; with a file of the package missing it names the file and ends
with its own code. Each outcome is one line, the same on standard output and in the file that
--outcome-file names, and an exit code of eHelperOutcome.h.

Usage: check_driver_helper.py WINE_RUN RELEASE_FOLDER eHelperOutcome.h
(WINEPREFIX names the prefix, which is made anew.)"""
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile

HELPER = "orvik-driver.exe"
INF = "STM32Bootloader.inf"


def main():
    wine_run, release, header = sys.argv[1:4]
    codes = dict(re.findall(r"(eHelper\w+) = (\d+)", open(header).read()))
    prefix = os.environ["WINEPREFIX"]
    shutil.rmtree(prefix, ignore_errors=True)
    staged = os.path.join(prefix, "drive_c", "windows", "inf", INF)
    work = tempfile.mkdtemp()
    # A copy of the helper whose package lacks its catalog.
    broken = os.path.join(work, "broken")
    shutil.copytree(release, broken, ignore=lambda folder, names: [
        name for name in names if name not in (HELPER, "driver", INF)])

    rows = [
        ("stages the package", release, "install", "eHelperStaged", "Staged: "),
        ("finds it there the second time", release, "install", "eHelperAlreadyThere",
         "Already there: "),
        ("removes what it added", release, "remove", "eHelperRemoved", "Removed: "),
        ("leaves a package it did not add", release, "remove", "eHelperLeftInPlace",
         "Left in place: "),
        ("names a missing file", broken, "install", "eHelperFilesMissing",
         "Not installed: driver\\STM32Bootloader.cat is missing"),
    ]
    errors = []
    for name, folder, action, outcome, line in rows:
        outcome_file = os.path.join(work, "outcome.txt")
        result = subprocess.run(
            [wine_run, os.path.join(folder, HELPER), action, "--outcome-file",
             "Z:" + outcome_file.replace("/", "\\")],
            capture_output=True, timeout=300)
        printed = result.stdout.decode("utf-8", "replace").strip()
        written = open(outcome_file, encoding="utf-8").read().strip() \
            if os.path.exists(outcome_file) else None
        print(f"{name}: exit {result.returncode}, \"{printed}\"")
        if result.returncode != int(codes[outcome]) or not printed.startswith(line):
            errors.append(f"{name}: wanted {outcome} ({codes[outcome]}) and \"{line}...\"")
        if written != printed:
            errors.append(f"{name}: the outcome file holds \"{written}\"")
        if name == "stages the package" and not (
                os.path.isfile(staged) and
                filecmp.cmp(staged, os.path.join(release, "driver", INF), shallow=False)):
            errors.append(f"{name}: {INF} is not in C:\\windows\\inf as shipped")
        if os.path.exists(outcome_file):
            os.remove(outcome_file)
    shutil.rmtree(work)
    for error in errors:
        print("FAIL:", error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
