#!/usr/bin/env bash
# The Debian package built here (Debian 12) installed into a fresh Debian 13 (trixie) root: it
# must install there with apt, start and show its window, find its flashing tool, and purge
# cleanly. Names the first step that fails.
#
# The minimal root (debootstrap, from the Debian archive this machine uses) and the packages
# apt fetched into it are kept in ORVIK_TRIXIE_CACHE (/var/cache/orvik-updater/trixie) between
# runs; each run works in a copy of that root. A missing or unfinished cache is made again.
# Runs as root (through sudo otherwise).
#
# Usage: check_deb_trixie.sh BUILD_DIR
set -euo pipefail
. "$(dirname "$0")/roots.sh"
[ $# = 1 ] || { echo "Usage: $0 BUILD_DIR" >&2; exit 2; }
[ "$(id -u)" = 0 ] || exec sudo -- "$0" "$@"
build=$(realpath "$1")
cache=${ORVIK_TRIXIE_CACHE:-/var/cache/orvik-updater/trixie}
started=$SECONDS

step="start"
work=""
xvfb=""
updater=""
cleanup() {
    [ -z "$updater" ] || kill "$updater" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    [ -n "$work" ] || return 0
    kill_in_root "$work/root"
    unmount_under "$work"
    # Never remove through a mount that is still there.
    if grep -q " $work/" /proc/mounts; then
        echo "Left $work in place: still mounted"
    else
        rm -rf --one-file-system "$work"
    fi
}
fail() {
    echo "FAIL: Debian 13: $step${1:+: $1}"
    [ -z "$work" ] || [ ! -s "$work/log" ] || tail -n 40 "$work/log"
    exit 1
}
trap cleanup EXIT
trap fail ERR
# Their failures are the caller's, so that it names its step.
run() { "$@" >>"$work/log" 2>&1 || return; }
in_root() {
    run chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@" || return
}

mkdir -p "$(dirname "$cache")"
work=$(mktemp -d "$(dirname "$cache")/run.XXXXXX")
: >"$work/log"
# One run at a time uses the cache.
exec 9>"$cache.lock"
flock 9

step="build the package"
run cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb"
deb=$(echo "$work"/deb/orvik-updater_*.deb)
[ -f "$deb" ] || fail "not one package: $deb"

step="make the Debian 13 root"
mirror=$(debian_mirror)
# What the cached root was made from and how; a root made otherwise is made again.
recipe="trixie minbase $mirror unsafe-io policy-rc.d"
made=""
if [ "$(cat "$cache/root/.orvik-made" 2>/dev/null)" != "$recipe" ]; then
    unmount_under "$cache/root.new"
    rm -rf --one-file-system "$cache/root" "$cache/root.new"
    run debootstrap_root trixie "$cache/root.new" "$cache/archives" "$mirror"
    echo "$recipe" >"$cache/root.new/.orvik-made"
    mv "$cache/root.new" "$cache/root"
    made=1
fi
mkdir -p "$cache/archives/partial"

step="copy the Debian 13 root"
root=$work/root
cp -a "$cache/root" "$root"
mount_root "$root" "$cache/archives"

step="apt-get update in Debian 13"
in_root apt-get update
step="apt-get install the package in Debian 13"
cp "$deb" "$root/tmp/"
chmod 644 "$root/tmp/$(basename "$deb")"
# Only what the package depends on: what it recommends would hide a missing dependency.
in_root apt-get install -y --no-install-recommends "/tmp/$(basename "$deb")"

step="the flashing tool at the updater's relative path reports 0.11"
version=$(chroot "$root" sh -c 'cd /usr/lib/orvik-updater && ./dfu-util-0.11/win64/dfu-util-static.exe -V')
version=${version%%$'\n'*}
echo "Debian 13: $version"
[ "$version" = "dfu-util 0.11" ] || fail "'$version'"

step="start Xvfb"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>>"$work/log" &
xvfb=$!
for _ in $(seq 100); do
    [ ! -s "$work/display" ] || break
    sleep 0.1
done
display=:$(head -n 1 "$work/display")
[ "$display" != : ] || fail "no display"

step="start orvik-updater in Debian 13"
mkdir -m 1777 -p "$root/tmp/user"
chroot --userspec=nobody:nogroup "$root" env -i PATH=/usr/bin:/bin HOME=/tmp/user \
    TMPDIR=/tmp/user LANG=C.UTF-8 DISPLAY="$display" orvik-updater >"$work/out" 2>"$work/err" &
updater=$!

step="the window \"Orvik Firmware Updater\" appears"
window=$(DISPLAY=$display timeout 60 xdotool search --sync --onlyvisible \
    --name '^Orvik Firmware Updater$' | head -n 1) || true
[ -n "$window" ] || fail "$(cat "$work/err")"
step="the window is 420 x 240"
size=$(DISPLAY=$display xdotool getwindowgeometry --shell "$window" | grep -E '^(WIDTH|HEIGHT)=')
echo "Debian 13: window $(tr '\n' ' ' <<<"$size")"
[ "$size" = $'WIDTH=420\nHEIGHT=240' ] || fail "$(tr '\n' ' ' <<<"$size")"
step="the banner line"
banner=$(head -n 1 "$work/out")
echo "Debian 13: banner '$banner'"
[ "$banner" = "Orvik Updater" ] || fail "'$banner'"
kill "$updater"
wait "$updater" || true
updater=""

step="apt-get purge the package in Debian 13"
files=$(dpkg-deb -c "$deb" | grep -v '^d' | sed -E 's/.* \.(\/[^ ]*).*/\1/')
in_root apt-get purge -y orvik-updater
if chroot "$root" dpkg-query -W orvik-updater >/dev/null 2>&1; then fail "still known to dpkg"; fi
for file in $files; do
    if [ -e "$root$file" ] || [ -L "$root$file" ]; then fail "$file left behind"; fi
done

echo "PASS: Debian 13: installed, started, found its tool and purged, in $((SECONDS - started)) s" \
    "($([ -n "$made" ] && echo "root made anew" || echo "cached root"))"
