#!/usr/bin/env bash
# The Linux download: OrvikUpdater-VERSION-linux-x86_64.tar.xz, one folder with the updater,
# the Qt run-time it uses, dfu-util 0.11 and libusb, which runs on any x86-64 desktop with
# glibc 2.31 or later and needs no Qt, dfu-util, libusb or root there (README, "Install").
#
# It is built in a Debian 11 (bullseye) root, the oldest base it serves, so that it asks for no
# newer glibc. The root (debootstrap --variant=minbase from the Debian archive this machine
# uses, with the build packages below) is kept in ORVIK_BULLSEYE_CACHE
# (/var/cache/orvik-updater/bullseye) and made again from nothing when missing or made by
# another recipe. The checkout and the build folder are bound into the root at fixed paths
# (/orvik/src, /orvik/build), so that any checkout gives the same bytes; the times are the
# commit's (SOURCE_DATE_EPOCH overrides it). The folder is checked (check_folder.py) before it
# is packed. Also builds the emulated bootloader for the check in fresh roots
# (BUILD_DIR/emulator/liborvikemu.so). Runs as root (through sudo otherwise).
#
# Usage: scripts/linux-release.sh [BUILD_DIR]     (default build-linux in the checkout)
set -euo pipefail
cd "$(dirname "$0")/.."
. packaging/roots.sh
if [ "$(id -u)" != 0 ]; then
    exec sudo --preserve-env=SOURCE_DATE_EPOCH,ORVIK_BULLSEYE_CACHE,ORVIK_DEBIAN_MIRROR \
        --preserve-env=ORVIK_WINDOWS_GIVEN -- "$0" "$@"
fi
checkout=$PWD
mkdir -p "${1:-build-linux}"
build=$(realpath "${1:-build-linux}")
cache=${ORVIK_BULLSEYE_CACHE:-/var/cache/orvik-updater/bullseye}
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

# The sources of dfu-util and libusb, as the Windows build finds them.
given=${ORVIK_WINDOWS_GIVEN:-}
for candidate in "$(cd .. && pwd)/shared/windows" /work/shared/windows; do
    if [ -z "$given" ] && [ -d "$candidate" ]; then
        given=$candidate
    fi
done
sources=${given:-$(cd .. && pwd)/shared/windows}/src

# What the build needs from Debian 11; the Qt modules are those the updater loads.
packages=(
    g++ make cmake pkg-config patchelf bzip2 xz-utils python3
    qtbase5-dev qtdeclarative5-dev qtdeclarative5-dev-tools libqt5serialport5-dev qtwayland5
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-dialogs
    qml-module-qtquick-controls qml-module-qtquick-layouts qml-module-qtquick-privatewidgets
    qml-module-qt-labs-folderlistmodel qml-module-qt-labs-settings
)

step="start"
root=""
cleanup() {
    [ -n "$root" ] || return 0
    kill_in_root "$root"
    unmount_under "$root"
}
# Removes a tree only when nothing is mounted below it: a bound checkout lies on the same file
# system, where --one-file-system does not stop.
remove_tree() {
    unmount_under "$1"
    if grep -q " $1/" /proc/mounts; then
        echo "FAIL: Linux release: $1 is still mounted, not removed" >&2
        exit 1
    fi
    rm -rf --one-file-system "$1"
}
fail() {
    echo "FAIL: Linux release: $step${1:+: $1}" >&2
    exit 1
}
trap cleanup EXIT
trap fail ERR

step="check the sources of dfu-util and libusb against their SHA256SUMS"
for file in dfu-util_0.11.orig.tar.gz libusb-1.0_1.0.26.orig.tar.bz2; do
    grep -E "^[0-9a-f]{64}  $file\$" "$sources/SHA256SUMS" |
        (cd "$sources" && sha256sum --quiet -c -) || fail "$sources/$file"
done

mkdir -p "$(dirname "$cache")"
# One run at a time uses the root.
exec 9>"$cache.lock"
flock 9

step="make the Debian 11 build root"
mirror=$(debian_mirror)
# What the cached root was made from and how; a root made otherwise is made again.
recipe="bullseye minbase $mirror unsafe-io policy-rc.d ${packages[*]}"
made=""
started=$SECONDS
if [ "$(cat "$cache/root/.orvik-made" 2>/dev/null)" != "$recipe" ]; then
    echo "Making the Debian 11 build root in $cache (once)"
    remove_tree "$cache/root"
    remove_tree "$cache/root.new"
    mkdir -p "$cache"
    root=$cache/root.new
    debootstrap_root bullseye "$root" "$cache/archives" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        fail "debootstrap, see $cache/debootstrap.log"
    mount_root "$root" "$cache/archives"
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive sh -c \
        'apt-get update && apt-get install -y --no-install-recommends "$@"' sh "${packages[@]}" \
        >"$cache/apt.log" 2>&1 || fail "apt-get install, see $cache/apt.log"
    unmount_under "$root"
    mkdir -p "$root/orvik/src" "$root/orvik/build" "$root/orvik/sources"
    echo "$recipe" >"$root/.orvik-made"
    mv "$root" "$cache/root"
    made=1
    echo "Made the Debian 11 build root in $((SECONDS - started)) s"
fi
root=$cache/root

step="bind the checkout and the build folder into the root"
mount_root "$root"
mount --bind "$checkout" "$root/orvik/src"
mount -o remount,bind,ro "$root/orvik/src"
mount --bind "$sources" "$root/orvik/sources"
mount -o remount,bind,ro "$root/orvik/sources"
mount --bind "$build" "$root/orvik/build"

step="build and pack in the Debian 11 root"
started=$SECONDS
# The paths of this machine that must not be found in what ships.
chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" ORVIK_JOBS="$(nproc)" \
    bash /orvik/src/packaging/linux/build-in-root.sh "$checkout" "$build" "$(dirname "$cache")" ||
    fail
unmount_under "$root"
tarball=$(echo "$build"/OrvikUpdater-*-linux-x86_64.tar.xz)
[ -f "$tarball" ] || fail "no tarball in $build"
echo "Linux release: $tarball ($(stat -c %s "$tarball") bytes), built in $((SECONDS - started)) s" \
    "($([ -n "$made" ] && echo "root made anew" || echo "cached root"))"
