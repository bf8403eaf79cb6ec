#!/usr/bin/env bash
# Installs what is needed, builds the updater and its tests, and runs every test, first against
# Qt 5 (with the Debian package and the Linux download in fresh roots) and then against Qt 6;
# then builds the Windows release and runs its suites under Wine;
# then fuzzes the reading of the flashing tool's output for a minute and runs every test again
# in a build with AddressSanitizer and UBSan (Qt 5).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
(cd build && ctest --output-on-failure -j2)
# The package installed and started in a fresh Debian 13 root, cached (README, "Install").
packaging/check_deb_trixie.sh build
# The Linux download, built in a Debian 11 root, started and used for an update in fresh
# Debian 11 and 13 roots that have no Qt, dfu-util or libusb (README, "Install"); all cached.
scripts/linux-release.sh
packaging/linux/check_tarball_roots.sh build-linux/OrvikUpdater-*-linux-x86_64.tar.xz

# The same sources and suites against Qt 6. Its package is built and checked, not installed.
cmake -S . -B build-qt6 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_QT_MAJOR=6 >/dev/null
cmake --build build-qt6 -j"$(nproc)"
(cd build-qt6 && env -u CI -u ORVIK_TEST_INSTALL_DEB ctest --output-on-failure -j2)

# The Windows release, cross-built with MinGW, and its suites under Wine (README, "Windows").
scripts/windows.sh
# The release built again from a second checkout must be the same bytes; signed with a
# throwaway certificate, it must verify and equal the unsigned build without its signatures.
scripts/check-release.sh

# 30 s per fuzzer; any finding fails. fuzz/README.md tells how to fuzz for longer.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVIK_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_progress fuzz_listing
fuzz/run.sh build-fuzz 30

# Every test of the sanitizer build. Its package is built and checked but never installed
# (CI and ORVIK_TEST_INSTALL_DEB unset): the instrumented program is not what ships.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
(cd build-asan && env -u CI -u ORVIK_TEST_INSTALL_DEB ctest --output-on-failure -j2)
