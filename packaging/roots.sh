# shellcheck shell=bash
# Shell functions of the scripts that work in Debian roots made with debootstrap
# (packaging/check_deb_trixie.sh, packaging/linux/check_tarball_roots.sh,
# scripts/linux-release.sh). Sourced, not run.

# The Debian archive this machine uses (ORVIK_DEBIAN_MIRROR overrides it).
debian_mirror() {
    local mirror=${ORVIK_DEBIAN_MIRROR:-$(apt-get indextargets --format '$(REPO_URI)' \
        'Identifier: Packages' 'Label: Debian' 2>/dev/null | head -n 1)}
    echo "${mirror:-http://deb.debian.org/debian/}"
}

# Ends whatever still runs in ROOT: it would hold the mounts there.
kill_in_root() {
    local proc
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/root" 2>/dev/null)" != "$1" ] ||
            kill -9 "${proc#/proc/}" 2>/dev/null || true
    done
}

# Unmounts everything mounted below DIR, the deepest first.
unmount_under() {
    local point
    for point in $(awk -v under="$1/" 'index($2, under) == 1 { print $2 }' /proc/mounts |
        sort -r); do
        umount "$point" || umount -l "$point" || true
    done
}

# Makes a minimal root of RELEASE in DIR from MIRROR, keeping what debootstrap fetches in
# ARCHIVES. Nothing installed in it later starts a service, and dpkg does not wait for the disk
# in a root that is thrown away.
debootstrap_root() {
    local release=$1 dir=$2 archives=$3 mirror=$4
    mkdir -p "$archives/partial" &&
        debootstrap --variant=minbase --cache-dir="$archives" "$release" "$dir" "$mirror" &&
        printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d" &&
        chmod 755 "$dir/usr/sbin/policy-rc.d" &&
        echo force-unsafe-io >"$dir/etc/dpkg/dpkg.cfg.d/unsafe-io" &&
        rm -f "$dir/var/cache/apt/archives"/*.deb
}

# Mounts /proc and /dev in ROOT, and ARCHIVES, when given, as its apt cache.
mount_root() {
    mount -t proc proc "$1/proc" && mount --bind /dev "$1/dev" &&
        { [ $# = 1 ] || mount --bind "$2" "$1/var/cache/apt/archives"; }
}
