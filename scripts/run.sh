#!/usr/bin/env bash
# Installs what is needed, builds the updater and starts it from the build
# directory, where the flashing tool sits at its relative path. Without a
# display it starts under a virtual X server, saves a screenshot and stops.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target orvik-updater -j"$(nproc)"
cd build

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec ./orvik-updater
fi

shot="$(pwd)/orvik-updater-screenshot.png"
# A session bus of its own, ended with it, as on a desktop; none would be left behind.
dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    ./orvik-updater & pid=$!
    window=$(timeout 60 xdotool search --sync --onlyvisible --name "^Orvik Firmware Updater$" | head -n 1)
    # Let the first frame reach the screen before it is captured.
    sleep 2
    import -window "$window" "$1"
    kill "$pid"
    wait "$pid" || true
' bash "$shot"
echo "No display: the updater ran under a virtual X server. Screenshot: $shot"
