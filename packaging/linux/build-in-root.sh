#!/usr/bin/env bash
# Run by scripts/linux-release.sh inside the Debian 11 build root, with the checkout at
# /orvik/src (read-only), the build folder at /orvik/build and the sources of dfu-util and
# libusb at /orvik/sources: builds libusb (shared, without udev), dfu-util linked to it, the
# updater and the emulated bootloader of the roots check, assembles the folder, checks it and
# packs it into BUILD/OrvikUpdater-VERSION-linux-x86_64.tar.xz.
#
# Usage: build-in-root.sh HOST_CHECKOUT HOST_BUILD HOST_CACHE
# (the host's paths of the checkout, the build folder and the cache: none may be found in
# what ships). SOURCE_DATE_EPOCH gives every time in the tarball.
set -euo pipefail
[ $# = 3 ] || { echo "Usage: $0 HOST_CHECKOUT HOST_BUILD HOST_CACHE" >&2; exit 2; }
umask 022
src=/orvik/src
build=/orvik/build
sources=/orvik/sources
linux=$src/packaging/linux
jobs=${ORVIK_JOBS:-2}
epoch=$SOURCE_DATE_EPOCH
# No path of the build in what is built (libusb's asserts name their files).
cflags="-g -O2 -ffile-prefix-map=$build=. -ffile-prefix-map=$src=."
usb=$build/libusb-install
# The updater looks for the tool at this path, relative to its working directory.
tool=$(sed -n 's/^set(ORVIK_TOOL_PATH \(.*\))$/\1/p' "$src/CMakeLists.txt")
[ -n "$tool" ] || { echo "No ORVIK_TOOL_PATH in CMakeLists.txt" >&2; exit 1; }

# A step is skipped when its stamp holds the same key as now.
fresh() { [ "$(cat "$build/$1.stamp" 2>/dev/null)" = "$2" ]; }
logged() {
    local log=$build/$1.log
    shift
    "$@" >"$log" 2>&1 && return
    tail -n 40 "$log"
    echo "Failed: see ${log#"$build"/} in the build folder"
    return 1
}
unpack() {
    rm -rf "${build:?}/$2"
    mkdir "$build/$2"
    # Their times are kept: autotools would otherwise make its generated files again.
    tar -xf "$sources/$1" -C "$build/$2" --strip-components=1
}

usb_key="$(sha256sum <"$sources/libusb-1.0_1.0.26.orig.tar.bz2") $cflags shared no-udev"
if ! fresh libusb "$usb_key"; then
    echo "Building libusb 1.0.26"
    rm -rf "$usb"
    unpack libusb-1.0_1.0.26.orig.tar.bz2 libusb
    logged libusb sh -c 'cd "$1/libusb" && ./configure --prefix="$2" --enable-shared \
        --disable-static --disable-udev CFLAGS="$3" && make -j"$4" && make install' \
        sh "$build" "$usb" "$cflags" "$jobs"
    echo "$usb_key" >"$build/libusb.stamp"
fi

dfu_key="$(sha256sum <"$sources/dfu-util_0.11.orig.tar.gz") $usb_key"
if ! fresh dfu-util "$dfu_key"; then
    echo "Building dfu-util 0.11"
    unpack dfu-util_0.11.orig.tar.gz dfu-util
    logged dfu-util sh -c 'cd "$1/dfu-util" && ./configure USB_CFLAGS="-I$2/include/libusb-1.0" \
        USB_LIBS="-L$2/lib -lusb-1.0" CFLAGS="$3" && make -C src -j"$4" dfu-util' \
        sh "$build" "$usb" "$cflags" "$jobs"
    echo "$dfu_key" >"$build/dfu-util.stamp"
fi

# The emulated bootloader of the roots check, against the libusb.h of this libusb: a stand-in
# preloaded into the bundled tool. Built here, so that it loads with glibc 2.31.
emu_key="$(cat "$src"/tests/emulator/orvikemu{.cpp,_unix.cpp,_platform.h} | sha256sum) $usb_key"
if ! fresh emulator "$emu_key"; then
    echo "Building the emulated bootloader"
    mkdir -p "$build/emulator"
    logged emulator g++ -std=c++17 -O2 -g -fPIC -shared -Wall -Wextra \
        -ffile-prefix-map="$src"=. -isystem "$usb/include/libusb-1.0" \
        -o "$build/emulator/liborvikemu.so" \
        "$src/tests/emulator/orvikemu.cpp" "$src/tests/emulator/orvikemu_unix.cpp"
    echo "$emu_key" >"$build/emulator.stamp"
fi

echo "Building the updater with Qt $(dpkg-query -W -f '${Version}' qtbase5-dev)"
logged updater-configure cmake -S "$src" -B "$build/updater" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF
logged updater-build cmake --build "$build/updater" -j"$jobs" --target orvik-updater

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/updater/CMakeCache.txt")
name=OrvikUpdater-$version-linux-x86_64
folder=$build/$name
echo "Assembling $name/"
rm -rf "$folder" "$build"/OrvikUpdater-*-linux-x86_64.tar.xz*
mkdir -p "$folder/bin" "$folder/lib" "$folder/udev" "$folder/licenses" "$folder/$(dirname "$tool")"
install -m 755 "$linux/orvik-updater" "$folder/orvik-updater"
# The access helper, made by the build with the rules in it; the updater runs it through pkexec.
install -m 755 "$build/updater/orvik-access" "$folder/orvik-access"
strip -o "$folder/bin/orvik-updater" "$build/updater/orvik-updater"
cp "$linux/qt.conf" "$folder/bin/"
strip -o "$folder/$tool" "$build/dfu-util/src/dfu-util"
strip --strip-unneeded -o "$folder/lib/libusb-1.0.so.0" "$(realpath "$usb/lib/libusb-1.0.so.0")"
# A library, as Debian ships its own: not executable.
chmod 644 "$folder/lib/libusb-1.0.so.0"
cp "$linux/README.txt" "$folder/"
cp "$src/packaging/70-orvik-updater.rules" "$folder/udev/"
# Qt may be used under LGPL-3, GPL-2 or GPL-3; dfu-util is GPL-2, libusb LGPL-2.1.
for licence in GPL-2 GPL-3 LGPL-3; do
    cp "/usr/share/common-licenses/$licence" "$folder/licenses/$licence.txt"
done
cp "$build/dfu-util/COPYING" "$folder/licenses/dfu-util-COPYING.txt"
cp "$build/libusb/COPYING" "$folder/licenses/libusb-COPYING.txt"
cp "$linux/licenses-README.txt" "$folder/licenses/README.txt"
python3 "$linux/bundle.py" "$folder" "$linux/system-libraries.txt"

python3 "$linux/check_folder.py" "$folder" --system "$linux/system-libraries.txt" \
    --max-glibc "$(dpkg-query -W -f '${Version}' libc6 | cut -d- -f1)" \
    --forbid "$1" --forbid "$2" --forbid "$3" --forbid /orvik/

# The same bytes from any checkout: sorted, owned by root, the commit's time, no pax header
# that names a process or a clock, and xz on one thread.
tar -C "$build" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" \
    --format=posix --pax-option=exthdr.name=%d/PaxHeaders/%f,delete=atime,delete=ctime \
    -cf - "$name" | xz -T1 -9 >"$folder.tar.xz.part"
mv "$folder.tar.xz.part" "$folder.tar.xz"
