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
