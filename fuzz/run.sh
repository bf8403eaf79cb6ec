#!/usr/bin/env bash
# Runs each fuzzer of a build for a bounded time, starting from the seed corpus in fuzz/corpus.
# Usage: fuzz/run.sh BUILD_DIR [SECONDS_PER_FUZZER [LIBFUZZER_OPTION...]]
# Inputs that reach new code are kept in BUILD_DIR/fuzz/corpus-NAME for later runs; a finding is
# written to BUILD_DIR/fuzz/findings/ and makes the exit code 1.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$1
seconds=${2:-30}
shift $(($# < 2 ? $# : 2))

status=0
for name in progress listing; do
    fuzzer="$build/fuzz/fuzz_$name"
    corpus="$build/fuzz/corpus-$name"
    findings="$build/fuzz/findings"
    log="$build/fuzz/fuzz_$name.log"
    mkdir -p "$corpus" "$findings"
    echo "fuzz_$name: ${seconds} s, log in $log"
    if "$fuzzer" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
        -dict="$here/$name.dict" -artifact_prefix="$findings/$name-" "$@" \
        "$corpus" "$here/corpus/$name" >"$log" 2>&1; then
        grep -E '^Done' "$log" || true
    else
        tail -n 60 "$log"
        echo "FAIL: fuzz_$name found a fault; the input is in $findings"
        status=1
    fi
done
exit "$status"
