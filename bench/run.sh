#!/bin/bash
# Builds the benchmarks (Release) and runs them, printing one table each; the
# tables, with the machine and its load, also go to BUILD_DIR/bench-results.md.
#
#   bench/run.sh [BUILD_DIR [startup|update|latency|volume|startup-windows|update-windows ...]]
#
# BUILD_DIR defaults to /tmp/orvik-bench-build; with no names, the four Linux ones run.
# BENCH_ROUNDS (default 10) sets the repetitions, BENCH_JOBS (default 2) the build jobs,
# BENCH_QT (5 or 6, default 5) the Qt of the Linux build. The Windows ones build the Windows
# release with the benchmarks in BUILD_DIR-windows and run them under Wine; they need the Qt
# SDK for MinGW that scripts/windows.sh unpacks. Needs what scripts/install-deps.sh installs.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-/tmp/orvik-bench-build}
shift || true
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(update latency volume startup)
rounds=${BENCH_ROUNDS:-10}
jobs=${BENCH_JOBS:-2}
qt=${BENCH_QT:-5}
windows_build=$build-windows
sdk=/opt/orvik-qt5-mingw

for tool in cmake pkg-config xvfb-run dbus-run-session umockdev-wrapper dfu-util; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is missing: run scripts/install-deps.sh" >&2
        exit 2
    fi
done

cmake -S "$src" -B "$build" -DORVIK_BENCH=ON -DBUILD_TESTING=ON -DCMAKE_BUILD_TYPE=Release \
    -DORVIK_QT_MAJOR="$qt" >/dev/null
cmake --build "$build" -j "$jobs" --target bench_startup bench_update bench_latency bench_volume \
    >/dev/null
if [[ " ${names[*]} " == *-windows* ]]; then
    if [ ! -x "$sdk/bin/qmake" ]; then
        echo "No Qt SDK for MinGW in $sdk: run scripts/windows.sh release first" >&2
        exit 2
    fi
    cmake -S "$src" -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_PREFIX_PATH="$sdk" -DCMAKE_BUILD_TYPE=Release -DORVIK_BENCH=ON -DBUILD_TESTING=ON \
        -DORVIK_WINDOWS_SOURCES="${ORVIK_WINDOWS_GIVEN:-$src/../shared/windows}/src" >/dev/null
    cmake --build "$windows_build" -j "$jobs" \
        --target release orvik-bench-floor bench_winlaunch bench_update >/dev/null
fi

export LANG=C.UTF-8 LC_ALL=C.UTF-8
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime # Qt warns without one
# A session bus of its own, as on a desktop: with none, each start would look one up through
# dbus-launch (dbus-x11), and the first would launch one that outlives the run.
xvfb=(dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24")
# bench_update.exe runs in a Wine prefix of its own and finds its DLLs in the SDK and the
# MinGW run-time; bench_startup keeps a prefix of its own in BUILD_DIR.
wine=(env WINEPREFIX="$windows_build/bench-wine-prefix"
    WINEPATH="$sdk/bin;/usr/lib/gcc/x86_64-w64-mingw32/12-posix;/usr/x86_64-w64-mingw32/lib")

# The bootloader road in the prefix as it is, the serial road with the faked ports.
windows_update() {
    local program=$windows_build/bench/bench_update.exe
    "${wine[@]}" "$src/scripts/wine-run.sh" "$program" "$rounds" bootloader &&
        "${wine[@]}" "$src/bench/update/wine-serial.sh" "$program" "$rounds" serial
}

results=$build/bench-results.md
{
    echo "# Orvik Updater benchmarks"
    echo
    echo "- date: $(date '+%Y-%m-%d %H:%M %Z')"
    echo "- machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
    echo "- Debian $(cat /etc/debian_version), Qt $(pkg-config --modversion "Qt${qt}Core")," \
        "$(dfu-util -V | head -1), $(wine --version 2>/dev/null)"
    echo "- build: $build (Release), $rounds rounds"
    echo "- uptime at start:$(uptime)"
    echo
} | tee "$results"

status=0
for name in "${names[@]}"; do
    case $name in
    update) command=(umockdev-wrapper "$build/bench/bench_update" "$rounds") ;;
    latency) command=("${xvfb[@]}" "$build/bench/bench_latency" "$rounds") ;;
    volume) command=("$build/bench/bench_volume" "$rounds") ;;
    startup) command=("${xvfb[@]}" "$build/bench/bench_startup" "$rounds") ;;
    startup-windows)
        command=("${xvfb[@]}" "$build/bench/bench_startup" "$rounds" --windows "$windows_build")
        ;;
    update-windows) command=(windows_update) ;;
    *)
        echo "unknown benchmark: $name" >&2
        exit 2
        ;;
    esac
    if ! "${command[@]}" | tee -a "$results"; then
        echo "**$name: some runs failed**" | tee -a "$results"
        status=1
    fi
    echo | tee -a "$results"
done
echo "- uptime at end:$(uptime)" | tee -a "$results"
echo "(tables also in $results)"
exit $status
