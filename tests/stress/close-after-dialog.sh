#!/usr/bin/env bash
# Closes the Windows release's updater under Wine after its native file dialog, many times,
# on a loaded machine (two busy loops), and counts the ends that are not a normal exit 0
# with "cUpdateDialog destroyed": after Escape, after a file was picked, and with the
# window's close asked while the dialog was still open. A stress run, by hand, not a suite:
#
#   tests/stress/close-after-dialog.sh [ROUNDS]     (50 for each road; after scripts/windows.sh)
#
# Each round is one row of tst_startup's keyboardOnly, the suite's own checks of the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
rounds=${1:-50}
build=$PWD/build-windows
[ -x "$build/tests/tst_startup.exe" ] || { echo "build the Windows suites first" >&2; exit 1; }

for _ in 1 2; do
    (while :; do :; done) &
    loops+=($!)
done
trap 'kill "${loops[@]}" 2>/dev/null' EXIT

export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_FORCE_STDERR_LOGGING=1 QT_QPA_PLATFORM=offscreen
export WINEPREFIX=$build/wine-prefix
# Where the suites find the Qt and MinGW DLLs, as CTest sets it.
export WINEPATH="/opt/orvik-qt5-mingw/bin;/usr/lib/gcc/x86_64-w64-mingw32/12-posix;/usr/x86_64-w64-mingw32/lib"
log=$(mktemp -d /tmp/orvik-stress.XXXXXX)
printf '%-42s %6s %6s %s\n' road rounds bad "exit codes of the bad ends"
for road in "Escape" "file picked" "window closed while the dialog is open"; do
    rows=()
    for ((i = 0; i < rounds; i++)); do rows+=("keyboardOnly:$road"); done
    out=$log/${road// /-}.log
    xvfb-run -a -s "-screen 0 1280x1024x24" scripts/wine-run.sh "$build/tests/tst_startup.exe" \
        "${rows[@]}" >"$out" 2>&1 || true
    passed=$(grep -c "^PASS   : tst_Startup::keyboardOnly(" "$out" || true)
    codes=$(grep -o "it ended with [-0-9]*\|it still runs\|Actual   (process->exitCode()): [-0-9]*" \
        "$out" | sed 's/.*: //; s/it ended with //' | sort | uniq -c | tr -s ' \n' ' ' || true)
    printf '%-42s %6d %6d %s\n' "$road" "$rounds" $((rounds - passed)) "$codes"
done
echo "Logs in $log; Wine's own word on a crash: $(cat "$log"/*.log | grep -c 'Unhandled' || true) lines"
