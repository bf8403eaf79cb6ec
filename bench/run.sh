#!/bin/bash
# Builds the benchmarks (Release) and runs them, printing one table each; the
# tables, with the machine and its load, also go to BUILD_DIR/bench-results.md.
#
#   bench/run.sh [BUILD_DIR [startup|update|latency|volume ...]]
#
# BUILD_DIR defaults to /tmp/orvik-bench-build; with no names, all four run.
# BENCH_ROUNDS (default 10) sets the repetitions, BENCH_JOBS (default 2) the build jobs.
# Needs what scripts/install-deps.sh installs, and libxcb-damage0-dev.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-/tmp/orvik-bench-build}
shift || true
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(update latency volume startup)
rounds=${BENCH_ROUNDS:-10}
jobs=${BENCH_JOBS:-2}

for tool in cmake pkg-config xvfb-run dbus-run-session umockdev-wrapper dfu-util; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is missing: run scripts/install-deps.sh" >&2
        exit 2
    fi
done

cmake -S "$src" -B "$build" -DORVIK_BENCH=ON -DBUILD_TESTING=ON -DCMAKE_BUILD_TYPE=Release \
    >/dev/null
cmake --build "$build" -j "$jobs" --target bench_startup bench_update bench_latency bench_volume \
    >/dev/null

export LANG=C.UTF-8 LC_ALL=C.UTF-8
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime # Qt warns without one
# A session bus of its own, as on a desktop: with none, each start would look one up through
# dbus-launch (dbus-x11), and the first would launch one that outlives the run.
xvfb=(dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24")

results=$build/bench-results.md
{
    echo "# Orvik Updater benchmarks"
    echo
    echo "- date: $(date '+%Y-%m-%d %H:%M %Z')"
    echo "- machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
    echo "- Debian $(cat /etc/debian_version), Qt $(pkg-config --modversion Qt5Core)," \
        "$(dfu-util -V | head -1)"
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
