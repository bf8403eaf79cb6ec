#!/usr/bin/env bash
# Runs a program of the Windows build under Wine: the suites through CTest, which names this
# script as the build's emulator, and anything else (`scripts/wine-run.sh build-windows/x.exe`).
# The Wine prefix is the user's own for this project, made on first use (about 15 s), set to
# Windows 10 and with Arial mapped to Liberation Sans, as Windows has Arial; later runs reuse
# it. WINEPREFIX chooses another one.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/orvik-updater/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No menu entries or file associations for what the tests install.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d}"
# Wine keeps the Unix QT_* variables from Windows programs and hands on WINEQT_* as QT_*.
for name in $(compgen -e); do
    case "$name" in
        QT_*) export "WINE$name=${!name}" ;;
    esac
done

mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [ ! -f "$WINEPREFIX/.orvik-ready" ]; then
        # Documents and the other shell folders link into HOME as it is now; a home of the
        # prefix's own outlives the caller's, which may be a test's temporary one.
        mkdir -p "$WINEPREFIX.home/Documents"
        HOME="$WINEPREFIX.home" XDG_CONFIG_HOME= wineboot --init >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d 'Liberation Sans' \
            /f >/dev/null 2>&1
        # The Windows that users have, whatever this Wine's default.
        wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
        wineserver --wait
        touch "$WINEPREFIX/.orvik-ready"
    fi
) 9>"$WINEPREFIX.lock"

exec wine "$@"
