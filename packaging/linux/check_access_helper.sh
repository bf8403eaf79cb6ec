#!/usr/bin/env bash
# The access helper, run as root would run it, in a mount namespace of its own: /etc is an
# overlay whose changes are thrown away, and udevadm a stand-in that records its calls. It
# must write exactly the rules it was built with, once, and only there; say "Already there" the
# second time; refuse other arguments and a user that is not root; remove only its own file.
#
# Usage: check_access_helper.sh HELPER RULES   (as root; skips otherwise)
set -euo pipefail
helper=$(realpath "$1")
rules=$(realpath "$2")
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
    echo "SKIP: needs root and unshare"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{upper,work,stub}
printf '#!/bin/sh\necho "$*" >>/tmp/orvik-udevadm.log\n' >"$work/stub/udevadm"
chmod 755 "$work/stub/udevadm"

# Runs the body in the namespace; its output is the test's.
unshare --mount --propagation private env HELPER="$helper" RULES="$rules" WORK="$work" bash -euo pipefail -c '
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$WORK/upper,workdir=$WORK/work" /etc
mount -t overlay overlay -o "lowerdir=$WORK/stub:/usr/sbin" /usr/sbin
mount -t tmpfs tmpfs /tmp
target=/etc/udev/rules.d/70-orvik-updater.rules
fail() { echo "FAIL: $*"; exit 1; }
# expect CODE LINE-START ARGS...
expect() {
    local code=$1 start=$2 out status=0
    shift 2
    out=$("$@") || status=$?
    [ "$status" = "$code" ] || fail "$* exited $status, not $code ($out)"
    case $out in "$start"*) ;; *) fail "$* said \"$out\", not \"$start...\"" ;; esac
    [ "$(printf "%s\n" "$out" | wc -l)" = 1 ] || fail "$* said more than one line: $out"
}

expect 0 "Set up: $target" "$HELPER" install
cmp -s "$target" "$RULES" || fail "the rules written differ from $RULES"
[ "$(stat -c %a "$target")" = 644 ] || fail "the rules are not mode 644"
grep -q "trigger --subsystem-match=usb --attr-match=idVendor=0483" /tmp/orvik-udevadm.log ||
    fail "the Orvik'"'"'s devices were not triggered: $(cat /tmp/orvik-udevadm.log)"
[ "$(ls /etc/udev/rules.d)" = 70-orvik-updater.rules ] || fail "more than the one file written"
expect 2 "Already there: $target" "$HELPER" install
expect 14 "Usage:" "$HELPER" install /etc/passwd
expect 14 "Usage:" "$HELPER" /tmp/other.rules
expect 10 "Not set up: root rights" setpriv --reuid=65534 --regid=65534 --clear-groups "$HELPER" install
expect 3 "Removed: $target" "$HELPER" remove
[ ! -e "$target" ] || fail "remove left the rules"
echo "# the administrator'"'"'s own" >"$target"
expect 4 "Left in place:" "$HELPER" remove
[ -e "$target" ] || fail "remove took a file that is not the updater'"'"'s"
expect 0 "Set up: $target" "$HELPER" install
cmp -s "$target" "$RULES" || fail "install did not replace the file that differed"
echo "PASS: the access helper sets up, finds, refuses and removes as it should"
'
