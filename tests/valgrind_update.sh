#!/usr/bin/env bash
# Whole updates under valgrind's memcheck, by default one through the serial port and one
# through the bootloader probe: Debian's dfu-util writing the emulated device, the progress
# read and the update log written. Fails on any invalid access or use of uninitialised memory
# in the test process, and on any definitely lost block besides the update object that the
# controller keeps until the program ends. The flashing tool itself is not traced.
#
# Usage: valgrind_update.sh TST_ENDTOEND [FUNCTION:ROW...]   (each row one update)
# Exit code 77 (skipped) when valgrind or umockdev-wrapper is missing.
set -euo pipefail

binary=$1
shift
rows=("$@")
if [ "${#rows[@]}" -eq 0 ]; then
    rows=("success:serial 0x5740" "success:in bootloader")
fi
suppressions="$(cd "$(dirname "$0")" && pwd)/valgrind.supp"

for tool in valgrind umockdev-wrapper; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

log=$(mktemp)
trap 'rm -f "$log"' EXIT

status=0
umockdev-wrapper valgrind --tool=memcheck --error-exitcode=99 --num-callers=50 \
    --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
    --suppressions="$suppressions" -s --log-file="$log" "$binary" "${rows[@]}" || status=$?
cat "$log"

if [ "$status" -ne 0 ]; then
    echo "FAIL: exit code $status (99: memcheck found errors, others: the test failed)"
    exit 1
fi
# Each update leaves one object kept: the leak suppression must match one block per row.
kept=$(sed -n 's/.*used_suppression:.* update-object-kept-until-exit .* in \([0-9]*\) blocks\{0,1\}$/\1/p' "$log")
if [ "${kept:-0}" != "${#rows[@]}" ]; then
    echo "FAIL: ${kept:-0} blocks lost under startUpdate for ${#rows[@]} kept update objects"
    exit 1
fi
echo "PASS: no memory errors, no leak but the kept update object"
