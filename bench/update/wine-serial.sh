#!/usr/bin/env bash
# Runs COMMAND (a Windows program under Wine) with the device's USB serial port faked in the
# Wine prefix: COM5 is listed as the device's port (USB 0483:5740, "USB Serial Device") and
# COM6 is its far end, for the device's side; a relay joins two Unix ptys that Wine links to
# them. Wine lists no USB serial port of its own, so the serial road has no other way in.
#
#   WINEPREFIX=... bench/update/wine-serial.sh COMMAND [ARGS...]
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX to the Wine prefix of the benchmark}"
wine_run="$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine-run.sh"
links=$(mktemp -d)
relay=""
device='HKLM\System\CurrentControlSet\Enum\USB\VID_0483&PID_5740\ORVIK0001'
# The prefix is left as it was: with the device listed, the bootloader road would find it.
cleanup() {
    "$wine_run" reg delete "$device" /f >/dev/null 2>&1 || true
    for port in COM5 COM6; do
        "$wine_run" reg delete 'HKLM\Software\Wine\Ports' /v $port /f >/dev/null 2>&1 || true
    done
    wineserver -k 2>/dev/null || true
    [ -z "$relay" ] || kill "$relay" 2>/dev/null || true
    rm -rf "$links"
}
trap cleanup EXIT

# The device as Wine's setupapi lists it, and the two ports reserved for the links. Wine
# links reserved ports at each start of its server.
reg() { "$wine_run" reg add "$@" /f >/dev/null; }
"$wine_run" cmd /c exit 0
reg "$device" /v ClassGUID /d '{4D36E978-E325-11CE-BFC1-08002BE10318}'
reg "$device" /v DeviceDesc /d 'USB Serial Device'
reg "$device\\Device Parameters" /v PortName /d COM5
reg 'HKLM\Software\Wine\Ports' /v COM5 /d "$links/com5"
reg 'HKLM\Software\Wine\Ports' /v COM6 /d "$links/com6"
wineserver -k
wineserver --wait

# Each pty is the controlling terminal of a process of the relay's, so that the Wine server,
# which opens them, does not adopt one and get its hang-up at the end.
python3 - "$links" <<'EOF' &
import os, select, sys, termios, fcntl, tty
links = sys.argv[1]
ends = []
for name in ("com5", "com6"):
    master, slave = os.openpty()
    tty.setraw(slave)
    os.symlink(os.ttyname(slave), os.path.join(links, name))
    ends.append((master, slave))
alive, held = os.pipe()
if os.fork() == 0:
    os.close(held)
    os.setsid()
    fcntl.ioctl(ends[1][1], termios.TIOCSCTTY, 0)
    os.read(alive, 1)  # returns when the relay has gone
    os._exit(0)
os.setsid()
fcntl.ioctl(ends[0][1], termios.TIOCSCTTY, 0)
a, b = ends[0][0], ends[1][0]
while True:
    for fd in select.select([a, b], [], [])[0]:
        os.write(b if fd == a else a, os.read(fd, 4096))
EOF
relay=$!
while [ ! -e "$links/com6" ]; do sleep 0.1; done
"$wine_run" "$@"
