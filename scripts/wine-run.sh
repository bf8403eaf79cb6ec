#!/usr/bin/env bash
# Runs a program of the Windows build under Wine: the suites through CTest, which names this
# script as the build's emulator, and anything else (`scripts/wine-run.sh build-windows/x.exe`).
# The Wine prefix is the user's own for this project, made on first use (about 15 s) with
# Arial mapped to Liberation Sans, as Windows has Arial; later runs reuse it. WINEPREFIX
# chooses another one. ORVIK_WINE_WINDOWS sets the version of Windows it claims to be (win10,
# as the driver's checks want); without it, Wine's own (Windows 7 in Wine 8), which the older
# suites were proven on.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/orvik-updater/wine-prefix}"
windows="${ORVIK_WINE_WINDOWS:-}"
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
        wineserver --wait
        touch "$WINEPREFIX/.orvik-ready"
    fi
    # The Windows version the prefix claims to be, noted in the ready mark.
    if [ "$(cat "$WINEPREFIX/.orvik-ready")" != "$windows" ]; then
        if [ -n "$windows" ]; then
            wine reg add 'HKCU\Software\Wine' /v Version /d "$windows" /f >/dev/null 2>&1
        else
            wine reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1 || true
        fi
        wineserver --wait
        echo "$windows" >"$WINEPREFIX/.orvik-ready"
    fi
) 9>"$WINEPREFIX.lock"

exec wine "$@"
