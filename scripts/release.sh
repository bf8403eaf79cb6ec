#!/usr/bin/env bash
# Builds the release and puts what is published into one folder (default dist/): the Windows
# zip and installer (built in build-windows/), the Debian package (built in build/), the Linux
# download (scripts/linux-release.sh, built in a Debian 11 root into build-linux/) and their
# SHA256SUMS. Any checkout of the same commit gives the same bytes: the times are the commit's
# (SOURCE_DATE_EPOCH, if set, overrides it). With ORVIK_SIGN_PFX and ORVIK_SIGN_PASSWORD_FILE
# the Windows programs, the uninstaller and the installer are signed (README, "Releases").
# Run it as root or with sudo, as scripts/windows.sh.
#
# Usage: scripts/release.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
dist=$(realpath -m "${1:-dist}")
# One time for all that follows, the Windows build's, the package's and the Linux download's.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

scripts/windows.sh release

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target orvik-updater
rm -rf build/release-deb
(cd build && cpack -G DEB -B "$PWD/release-deb" >/dev/null)
# CPack stamps its package with the clock: the same tree is packed again by dpkg-deb, with
# every time the commit's (dpkg-deb takes its own from SOURCE_DATE_EPOCH) and sorted entries.
staged=$(echo build/release-deb/_CPack_Packages/Linux/DEB/orvik-updater-*-Linux)
deb=$(cd build/release-deb && ls orvik-updater_*.deb)
tree=build/release-deb/tree
mkdir -p "$tree/DEBIAN"
cp -a "$staged/usr" "$tree/"
cp -a "$staged"/{control,md5sums,postinst,postrm} "$tree/DEBIAN/"
find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
dpkg-deb --root-owner-group --build "$tree" \
    "build/release-deb/$deb" >/dev/null

scripts/linux-release.sh build-linux

rm -rf "$dist"
mkdir -p "$dist"
cp build-windows/OrvikUpdater-*-win64.zip build-windows/OrvikUpdater-*-setup.exe \
    build/release-deb/orvik-updater_*.deb build-linux/OrvikUpdater-*-linux-x86_64.tar.xz "$dist/"
(cd "$dist" && sha256sum -- * >SHA256SUMS)
echo "Release in $dist:"
cat "$dist/SHA256SUMS"
