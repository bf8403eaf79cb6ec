#!/usr/bin/env python3
"""Installs the build tree with `cmake --install` into temporary trees and checks the layout:
the program beside the link to dfu-util, the launcher, desktop entry, metainfo, icons and
udev rules, and nothing else (no test programs).

Usage: check_install_tree.py CMAKE BUILD_DIR APP_ID TOOL (the tool's installed path)
"""
import configparser
import os
import shutil
import subprocess
import sys
import tempfile

SIZES = (16, 32, 48, 72, 128, 256)


# The flashing tool's place in the install tree, as the build names it.
TOOL = None


def expected_files(app_id):
    return {"bin/orvik-updater", "lib/orvik-updater/orvik-updater", TOOL,
            "lib/udev/rules.d/70-orvik-updater.rules",
            f"share/applications/{app_id}.desktop", f"share/metainfo/{app_id}.metainfo.xml"} | {
        f"share/icons/hicolor/{n}x{n}/apps/{app_id}.png" for n in SIZES}


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def check_tree(app_id, root, prefix, errors):
    top = root + prefix
    found = set()
    for d, dirs, files in os.walk(top):
        for name in files + [x for x in dirs if os.path.islink(os.path.join(d, x))]:
            found.add(os.path.relpath(os.path.join(d, name), top))
    for extra in sorted(found - expected_files(app_id)):
        errors.append(f"unexpected file installed: {extra}")
    missing = sorted(expected_files(app_id) - found)
    errors += [f"not installed: {name}" for name in missing]
    if missing:
        return

    program = os.path.join(top, "lib/orvik-updater/orvik-updater")
    with open(program, "rb") as f:
        if f.read(4) != b"\x7fELF" or not os.access(program, os.X_OK):
            errors.append("lib/orvik-updater/orvik-updater is not an executable program")
    tool = os.path.join(top, TOOL)
    if not os.path.islink(tool) or os.readlink(tool) != "/usr/bin/dfu-util":
        errors.append(f"{TOOL} is not a link to /usr/bin/dfu-util")

    launcher = os.path.join(top, "bin/orvik-updater")
    text = open(launcher, encoding="utf-8").read()
    want = f"cd '{prefix}/lib/orvik-updater' && exec ./orvik-updater \"$@\""
    if not os.access(launcher, os.X_OK) or not text.startswith("#!/bin/sh\n") or want not in text:
        errors.append(f"launcher lacks the shebang, the exec bit or the line: {want}")

    desktop = os.path.join(top, f"share/applications/{app_id}.desktop")
    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str
    entry.read(desktop, encoding="utf-8")
    entry = entry["Desktop Entry"]
    for key, want in (("Exec", f"{prefix}/bin/orvik-updater"),
                      ("Path", f"{prefix}/lib/orvik-updater"), ("Icon", app_id),
                      ("Name", "Orvik Updater"), ("Terminal", "false")):
        if entry.get(key) != want:
            errors.append(f"desktop entry {key}={entry.get(key)}, expected {want}")

    for n in SIZES:
        icon = os.path.join(top, f"share/icons/hicolor/{n}x{n}/apps/{app_id}.png")
        if os.path.exists(icon) and png_size(icon) != (n, n):
            errors.append(f"icon {n}x{n} is a PNG of {png_size(icon)}")

    rules = os.path.join(top, "lib/udev/rules.d/70-orvik-updater.rules")
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "70-orvik-updater.rules")
    if open(rules, "rb").read() != open(source, "rb").read():
        errors.append("installed udev rules differ from the source")

    if shutil.which("desktop-file-validate"):
        run = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
        if run.returncode or run.stdout.strip():
            errors.append(f"desktop-file-validate: {run.stdout}{run.stderr}")
    if prefix == "/usr" and shutil.which("appstreamcli"):
        # Checks the metainfo against the installed desktop entry it launches.
        run = subprocess.run(["appstreamcli", "validate-tree", "--no-net", root],
                             capture_output=True, text=True)
        if run.returncode:
            errors.append(f"appstreamcli validate-tree: {run.stdout}{run.stderr}")


def run_launcher(prefix, errors):
    """Swaps the program for a script reporting its directory and arguments, then launches."""
    program = os.path.join(prefix, "lib/orvik-updater/orvik-updater")
    os.remove(program)
    with open(program, "w", encoding="utf-8") as f:
        f.write('#!/bin/sh\npwd -P\nfor a in "$@"; do echo "[$a]"; done\n')
    os.chmod(program, 0o755)
    run = subprocess.run([os.path.join(prefix, "bin/orvik-updater"), "two words", ""],
                         capture_output=True, text=True, cwd="/")
    want = f"{os.path.realpath(prefix)}/lib/orvik-updater\n[two words]\n[]\n"
    if run.returncode or run.stdout != want:
        errors.append(f"launcher ran with output {run.stdout!r}, expected {want!r}")


def main(cmake, build, app_id, tool):
    global TOOL
    TOOL = tool
    failed = False
    with tempfile.TemporaryDirectory() as tmp:
        # name: (DESTDIR, prefix); the second is a real prefix, so the launcher can run.
        rows = {"package prefix under DESTDIR": (os.path.join(tmp, "stage"), "/usr"),
                "own prefix": ("", os.path.join(tmp, "opt", "orvik"))}
        for name, (destdir, prefix) in rows.items():
            env = {k: v for k, v in os.environ.items() if k != "DESTDIR"}
            if destdir:
                env["DESTDIR"] = destdir
            run = subprocess.run([cmake, "--install", build, "--prefix", prefix], env=env,
                                 capture_output=True, text=True)
            errors = [f"cmake --install failed:\n{run.stdout}{run.stderr}"] if run.returncode else []
            if not errors:
                check_tree(app_id, destdir, prefix, errors)
                if not destdir:
                    run_launcher(prefix, errors)
            print(f"{'FAIL' if errors else 'PASS'}: {name}")
            for error in errors:
                print(f"    {error}")
            failed |= bool(errors)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:5]))
