#!/usr/bin/env bash
# The Linux download started where no Qt, dfu-util or libusb is installed: fresh minimal roots
# of Debian 11 (the oldest base it serves) and Debian 13, with only an X server, xdotool and
# the libraries of system-libraries.txt, as a desktop has them. In each, the tarball is
# unpacked, and its launcher is started as an unprivileged user from another folder, through a
# link, under Xvfb: it must print its banner and show its window at 420 x 240, and the bundled
# tool must report 0.11. Then, in a copy of the folder whose tool is wrapped to preload the
# emulated bootloader (tests/emulator/orvikemu.cpp, built in the Debian 11 build root), one
# whole update is made through the window as a person makes it: the flash must hold the image
# and the device must have left its bootloader. Names the first step that fails.
#
# Each root is kept in ORVIK_ROOTS_CACHE/tarball-RELEASE (/var/cache/orvik-updater) and made
# again from nothing when missing or made by another recipe; each run works on an overlay of
# it. Runs as root (through sudo otherwise); the window is looked at with the host's import.
#
# Usage: check_tarball_roots.sh TARBALL [EMULATOR]
#        (EMULATOR defaults to liborvikemu.so of scripts/linux-release.sh's build folder)
set -euo pipefail
[ $# = 1 ] || [ $# = 2 ] || { echo "Usage: $0 TARBALL [EMULATOR]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || exec sudo -- "$0" "$@"
tarball=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../roots.sh"
emulator=$(realpath -m "${2:-$here/../../build-linux/emulator/liborvikemu.so}")
caches=${ORVIK_ROOTS_CACHE:-/var/cache/orvik-updater}
started=$SECONDS

# X, xdotool, and what a desktop has of the system libraries (system-libraries.txt), with
# Mesa's DRI drivers for Xvfb's GL and a font.
packages=(
    xvfb xdotool
    libc6 libstdc++6 libgcc-s1 zlib1g
    libgl1 libegl1 libgl1-mesa-dri libgbm1 libdrm2
    libx11-6 libx11-xcb1 libxau6 libxdmcp6
    libxcb1 libxcb-randr0 libxcb-render0 libxcb-shape0 libxcb-shm0 libxcb-sync1 libxcb-xfixes0
    libxcb-xinput0 libxcb-glx0 libxcb-dri2-0 libxcb-dri3-0 libxcb-present0
    libwayland-client0 libwayland-cursor0 libwayland-egl1
    libfontconfig1 libfreetype6 libdbus-1-3 fonts-liberation
)
# What the folder brings and a desktop may lack: none of it may be in the roots.
brought='^(libQt5|libQt6|libxcb-(icccm|image|keysyms|render-util|xinerama)\.|libxkbcommon-x11'
brought+='|libusb-1\.0)'

label=""
step="start"
work=""
xvfb=""
updater=""
made=""
cleanup() {
    local pid
    for pid in $updater $xvfb; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    done
    updater=""
    xvfb=""
    [ -n "$work" ] || return 0
    kill_in_root "$work/root"
    unmount_under "$work"
    # Never remove through a mount that is still there.
    if grep -q " $work/" /proc/mounts; then
        echo "Left $work in place: still mounted"
    else
        rm -rf --one-file-system "$work"
    fi
    work=""
}
fail() {
    echo "FAIL: ${label:+$label: }$step${1:+: $1}"
    if [ -n "$xvfb" ] && [ -n "${display:-}" ]; then
        local shot=/tmp/orvik-tarball-roots-failure.png
        import -display "$display" -window root "$shot" 2>/dev/null && echo "Screen: $shot"
    fi
    if [ -n "$work" ]; then
        local file
        for file in log out err; do
            [ ! -s "$work/$file" ] || { echo "--- $file"; tail -n 30 "$work/$file"; }
        done
    fi
    exit 1
}
trap cleanup EXIT
trap fail ERR
# Their failures are the caller's, so that it names its step.
run() { "$@" >>"$work/log" 2>&1 || return; }
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive DISPLAY="${display:-}" "$@"
}
# exec: started in the background, its process is the program's, which a kill then ends.
# System V IPC of its own: the single-instance guard's segment is keyed by a file's inode, which
# a fresh root may share with a segment left by a killed run here or by another program.
as_user() {
    exec unshare --ipc chroot --userspec=nobody:nogroup "$root" env -i \
        PATH=/usr/local/bin:/usr/bin:/bin HOME=/tmp/user TMPDIR=/tmp/user LANG=C.UTF-8 \
        DISPLAY="${display:-}" "$@"
}
# The colour at X,Y of a window, as RRGGBB.
pixel() {
    import -display "$display" -window "$1" "$work/shot.png" 2>/dev/null &&
        convert "$work/shot.png" -format "%[hex:u.p{$2,$3}]" info: 2>/dev/null
}
# Waits up to 60 s for a command to succeed.
until_true() {
    local end=$((SECONDS + 60))
    while [ "$SECONDS" -lt "$end" ]; do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
is_white() { [ "$(pixel "$@")" = FFFFFF ]; }
window_gone() { ! in_root xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
updated() { grep -q "File downloaded successfully" "$log" 2>/dev/null; }

# Makes the cached root of RELEASE when it is missing or was made otherwise. In a function,
# so each failure is named here.
make_root() {
    local release=$1 cache=$caches/tarball-$1 mirror recipe new tree
    mirror=$(debian_mirror)
    recipe="$release minbase $mirror unsafe-io policy-rc.d ${packages[*]}"
    [ "$(cat "$cache/root/.orvik-made" 2>/dev/null)" != "$recipe" ] || return 0
    made=1
    new=$cache/root.new
    for tree in "$cache/root" "$new"; do
        unmount_under "$tree"
        ! grep -q " $tree/" /proc/mounts || fail "$tree is still mounted"
        rm -rf --one-file-system "$tree"
    done
    run debootstrap_root "$release" "$new" "$cache/archives" "$mirror" || fail "debootstrap"
    mount_root "$new" "$cache/archives"
    root=$new
    run in_root apt-get update || fail "apt-get update"
    # Only what is named: what packages recommend would hide a library the folder lacks.
    run in_root apt-get install -y --no-install-recommends "${packages[@]}" ||
        fail "apt-get install"
    unmount_under "$new"
    echo "$recipe" >"$new/.orvik-made"
    mv "$new" "$cache/root"
}

step="the tarball unpacks to one folder of its name"
name=$(basename "$tarball" .tar.xz)
tops=$(tar -tJf "$tarball" | cut -d/ -f1 | sort -u)
[ "$tops" = "$name" ] || fail "$(echo $tops)"
step="the emulated bootloader is built"
[ -f "$emulator" ] || fail "no $emulator (scripts/linux-release.sh builds it)"
# The updater looks for the tool at this path, relative to its working directory.
tool=$(sed -n 's/^set(ORVIK_TOOL_PATH \(.*\))$/\1/p' "$here/../../CMakeLists.txt")

mkdir -p "$caches"
# One run at a time uses the roots.
exec 9>"$caches/tarball-roots.lock"
flock 9
# An image the updater accepts: its stack in RAM and its reset address inside the image, then
# a pattern in which no two offsets of a sector agree (as tests/support/cExpected.h makes it).
image=$(mktemp /tmp/orvik-image.XXXXXX)
trap 'rm -f "$image"; cleanup' EXIT
python3 - "$image" <<'EOF'
import struct, sys
data = bytearray((i * 7 + i // 251) & 0xFF for i in range(65536))
data[0:8] = struct.pack("<II", 0x20020000, 0x080001C1)
open(sys.argv[1], "wb").write(data)
EOF

# Each root: the folder started, its tool asked, and one update through the window.
for release in bullseye trixie; do
    label="Debian $([ "$release" = bullseye ] && echo 11 || echo 13)"

    step="make the $label root"
    work=$(mktemp -d "$caches/run.XXXXXX")
    : >"$work/log"
    make_root "$release"

    step="lay a fresh layer over the $label root"
    root=$work/root
    mkdir "$root" "$work/upper" "$work/overlay"
    layers="lowerdir=$caches/tarball-$release/root,upperdir=$work/upper,workdir=$work/overlay"
    if ! mount -t overlay overlay -o "$layers" "$root" 2>>"$work/log"; then
        rmdir "$root"
        cp -a "$caches/tarball-$release/root" "$root"
    fi
    mount_root "$root"

    step="the root has no Qt, no libusb and none of the xcb plugin's helper libraries"
    present=$(ls "$root/usr/lib/x86_64-linux-gnu" | grep -E "$brought" || true)
    [ -z "$present" ] || fail "$(echo $present)"
    [ ! -e "$root/usr/bin/dfu-util" ] || fail "/usr/bin/dfu-util"

    step="unpack the tarball"
    tar -xJf "$tarball" -C "$root/opt"
    folder=/opt/$name
    mkdir -m 1777 "$root/tmp/user"
    ln -s "$folder/orvik-updater" "$root/usr/local/bin/orvik-updater"

    step="the bundled tool reports 0.11"
    version=$(as_user sh -c "cd '$folder' && ./$tool -V" 2>>"$work/log")
    version=${version%%$'\n'*}
    echo "$label: $version"
    [ "$version" = "dfu-util 0.11" ] || fail "'$version'"

    step="start Xvfb"
    : >"$work/display"
    chroot "$root" Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
        2>>"$work/log" &
    xvfb=$!
    until_true test -s "$work/display" || fail "no display"
    display=:$(head -n 1 "$work/display")

    step="start the launcher through a link, from another folder"
    as_user sh -c 'cd /tmp/user && exec orvik-updater' >"$work/out" 2>"$work/err" &
    updater=$!
    step="the window \"Orvik Firmware Updater\" appears"
    window=$(in_root timeout 60 xdotool search --sync --onlyvisible \
        --name '^Orvik Firmware Updater$' 2>>"$work/log" | head -n 1) || true
    [ -n "$window" ] || fail "$(tail -n 5 "$work/err")"
    step="the window is 420 x 240"
    size=$(in_root xdotool getwindowgeometry --shell "$window" | grep -E '^(WIDTH|HEIGHT)=')
    echo "$label: window $(tr '\n' ' ' <<<"$size")"
    [ "$size" = $'WIDTH=420\nHEIGHT=240' ] || fail "$(tr '\n' ' ' <<<"$size")"
    step="the banner line"
    banner=$(head -n 1 "$work/out")
    echo "$label: banner '$banner'"
    [ "$banner" = "Orvik Updater" ] || fail "'$banner'"
    kill "$updater"
    wait "$updater" || true
    updater=""
    # Else the next search can still find this window, which is gone a moment later.
    step="the window of the first start goes"
    until_true window_gone '^Orvik Firmware Updater$' || fail

    step="prepare the emulated Orvik and a copy of the folder whose tool preloads it"
    copy=/opt/orvik-emulated emu=/tmp/emu firmware=/tmp/user/firmware/orvik-app.bin
    cp -a "$root$folder" "$root$copy"
    mv "$root$copy/$tool" "$root$copy/$tool.bundled"
    mkdir -p "$root/opt/orvik-emulator"
    cp "$emulator" "$root/opt/orvik-emulator/liborvikemu.so"
    printf '#!/bin/sh\nORVIK_EMU_DIR=%s LD_PRELOAD=%s exec "$0.bundled" "$@"\n' "$emu" \
        /opt/orvik-emulator/liborvikemu.so >"$root$copy/$tool"
    chmod 755 "$root$copy/$tool"
    mkdir -p "$root$emu" "$(dirname "$root$firmware")"
    echo bootloader >"$root$emu/mode"
    head -c 1048576 /dev/zero | tr '\0' '\377' >"$root$emu/flash.bin"
    cp "$image" "$root$firmware"
    chown -R nobody:nogroup "$root$emu" "$root/tmp/user/firmware"
    log=$root${firmware%bin}OrvikUpdater.log

    step="start the copy's launcher for an update"
    as_user sh -c "cd /tmp/user && exec $copy/orvik-updater" >"$work/out" 2>"$work/err" &
    updater=$!
    window=$(in_root timeout 60 xdotool search --sync --onlyvisible \
        --name '^Orvik Firmware Updater$' 2>>"$work/log" | head -n 1) || true
    [ -n "$window" ] || fail "no window: $(tail -n 5 "$work/err")"
    step="Select File is drawn"
    until_true is_white "$window" 165 95
    step="Select File opens the dialog \"Select Firmware file to load\""
    run in_root xdotool windowfocus --sync "$window"
    run in_root xdotool mousemove --window "$window" 210 115 click 1
    dialog=$(in_root timeout 60 xdotool search --sync --onlyvisible \
        --name '^Select Firmware file to load$' 2>>"$work/log" | head -n 1) || true
    [ -n "$dialog" ] || fail
    step="the dialog's path field is drawn"
    # The X server here has no window manager, which would place the new window; Debian 11's
    # Qt draws the dialog only once it is placed (a move), so this does what a manager does.
    run in_root xdotool windowmove --sync "$dialog" 40 40
    width=$(in_root xdotool getwindowgeometry --shell "$dialog" | sed -n 's/^WIDTH=//p')
    until_true is_white "$dialog" $((width - 20)) 22
    step="the image's path typed into the dialog is taken"
    run in_root xdotool mousemove --window "$dialog" $((width - 20)) 22 click 1
    run in_root xdotool key ctrl+a
    run in_root xdotool type --delay 20 "$firmware"
    run in_root xdotool key Return
    until_true window_gone '^Select Firmware file to load$'
    step="Update is lit"
    until_true is_white "$window" 165 155
    step="Update writes the image through the bundled tool"
    run in_root xdotool mousemove --window "$window" 210 175 click 1
    until_true updated || fail "no \"File downloaded successfully\" in ${log#"$root"}"
    step="the flash holds the image"
    cmp -n "$(stat -c %s "$image")" "$image" "$root$emu/flash.bin" >>"$work/log" 2>&1 || fail
    step="the Orvik left its bootloader"
    [ "$(cat "$root$emu/mode")" = run ] || fail "mode '$(cat "$root$emu/mode")'"
    echo "$label: updated through the bundled tool: $(grep -c . "$root$emu/events") DfuSe commands"
    cleanup
    label=""
done
echo "PASS: the Linux download in fresh Debian 11 and 13 roots: banner, window, dfu-util 0.11," \
    "an update through the bundled tool, in $((SECONDS - started)) s" \
    "($([ -n "$made" ] && echo "roots made anew" || echo "cached roots"))"
