#!/usr/bin/env python3
"""Parses the udev rules and runs them against model devices: which devices get the uaccess
tag and are hidden from ModemManager. Uses `udevadm verify` as well where udev has it (253+).

Usage: check_udev_rules.py path/to/70-orvik-updater.rules
"""
import fnmatch
import re
import shutil
import subprocess
import sys

MATCH_ONLY = {"ACTION", "DEVPATH", "KERNEL", "KERNELS", "SUBSYSTEM", "SUBSYSTEMS", "DRIVER",
              "DRIVERS", "ATTRS", "TAGS", "RESULT", "CONST"}
ASSIGN_ONLY = {"OWNER", "GROUP", "MODE", "RUN", "LABEL", "GOTO", "IMPORT", "OPTIONS", "SECLABEL"}
EITHER = {"ATTR", "ENV", "TAG", "NAME", "SYMLINK", "SYSCTL", "TEST", "PROGRAM"}
NEEDS_ATTR = {"ATTR", "ATTRS", "ENV", "SYSCTL", "SECLABEL"}
TOKEN = re.compile(r'\s*([A-Z_]+)(?:\{([^}]+)\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$)')


def parse(text):
    """Returns a list of rules, each a list of (key, attr, op, value); raises on a bad line."""
    rules = []
    for number, line in enumerate(text.replace("\\\n", "").splitlines(), 1):
        line, pos, rule = line.strip(), 0, []
        if not line or line.startswith("#"):
            continue
        while pos < len(line):
            m = TOKEN.match(line, pos)
            if not m:
                raise ValueError(f"line {number}: cannot parse from column {pos + 1}")
            key, attr, op, value, _ = m.groups()
            is_match = op in ("==", "!=")
            if key not in MATCH_ONLY | ASSIGN_ONLY | EITHER:
                raise ValueError(f"line {number}: unknown key {key}")
            if (key in MATCH_ONLY and not is_match) or (key in ASSIGN_ONLY and is_match):
                raise ValueError(f"line {number}: operator {op} not valid for {key}")
            if (key in NEEDS_ATTR) != (attr is not None):
                raise ValueError(f"line {number}: {key} {'needs' if attr is None else 'takes no'} {{}}")
            rule.append((key, attr, op, value))
            pos = m.end()
        rules.append(rule)
    return rules


def matches(pattern, value):
    return value is not None and any(fnmatch.fnmatchcase(value, p) for p in pattern.split("|"))


def apply(rules, device):
    """device: subsystem, env, attrs and parents (list of attr dicts, nearest first)."""
    tags, env = set(), dict(device["env"])
    for rule in rules:
        ok, chain_attrs = True, []
        for key, attr, op, value in rule:
            if op not in ("==", "!="):
                continue
            if key == "ATTRS":
                chain_attrs.append((attr, op, value))
                continue
            actual = {"SUBSYSTEM": device["subsystem"], "ENV": env.get(attr),
                      "ATTR": device["attrs"].get(attr)}.get(key)
            ok &= matches(value, actual) == (op == "==")
        # Every ATTRS key must hold on one and the same device up the chain.
        ok &= not chain_attrs or any(
            all(matches(v, d.get(a)) == (op == "==") for a, op, v in chain_attrs)
            for d in [device["attrs"]] + device["parents"])
        for key, attr, op, value in rule if ok else []:
            if key == "TAG" and op in ("+=", "="):
                tags.add(value)
            elif key == "ENV" and op not in ("==", "!="):
                env[attr] = value
    return tags, env


def usb(vid, pid):
    return {"idVendor": vid, "idProduct": pid, "busnum": "1", "devnum": "4"}


def tty(vid, pid):
    return {"subsystem": "tty", "env": {}, "attrs": {"dev": "166:0"},
            "parents": [{"bInterfaceClass": "02"}, usb(vid, pid)]}


def usb_device(vid, pid):
    return {"subsystem": "usb", "env": {"DEVTYPE": "usb_device"}, "attrs": usb(vid, pid),
            "parents": [{"idVendor": "1d6b", "idProduct": "0002"}]}


def usb_interface(vid, pid):
    return {"subsystem": "usb", "env": {"DEVTYPE": "usb_interface"},
            "attrs": {"bInterfaceClass": "fe"}, "parents": [usb(vid, pid)]}


# name: (device, expected tags, expected ID_MM_DEVICE_IGNORE)
CASES = {
    "serial port 0483:5740": (tty("0483", "5740"), {"uaccess"}, "1"),
    "serial port 0483:a44b": (tty("0483", "a44b"), {"uaccess"}, "1"),
    "serial port of another maker": (tty("1234", "5740"), set(), None),
    "serial port of another 0483 product": (tty("0483", "5741"), set(), None),
    "bootloader 0483:df11": (usb_device("0483", "df11"), {"uaccess"}, None),
    "run-time device 0483:5740": (usb_device("0483", "5740"), {"uaccess"}, None),
    "run-time device 0483:a44b": (usb_device("0483", "a44b"), {"uaccess"}, None),
    "bootloader of another maker": (usb_device("1234", "df11"), set(), None),
    "interface of the bootloader": (usb_interface("0483", "df11"), set(), None),
}


def main(path):
    try:
        rules = parse(open(path, encoding="utf-8").read())
    except ValueError as error:
        print(f"FAIL: {path}: {error}")
        return 1
    failures = 0
    for name, (device, want_tags, want_mm) in CASES.items():
        tags, env = apply(rules, device)
        ok = tags == want_tags and env.get("ID_MM_DEVICE_IGNORE") == want_mm
        failures += not ok
        print(f"{'PASS' if ok else 'FAIL'}: {name}: tags {sorted(tags)}, "
              f"ID_MM_DEVICE_IGNORE {env.get('ID_MM_DEVICE_IGNORE')}"
              + ("" if ok else f" (expected {sorted(want_tags)}, {want_mm})"))
    udevadm = shutil.which("udevadm")
    if udevadm and subprocess.run([udevadm, "verify", "--help"], capture_output=True).returncode == 0:
        failures += subprocess.run([udevadm, "verify", path]).returncode != 0
    else:
        print("udevadm verify not available; checked by the parser above only")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
