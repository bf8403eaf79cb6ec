#!/usr/bin/env bash
# The Windows release, built and proven here: installs what it needs from Debian, unpacks the
# Qt SDK for MinGW given in ../shared/windows (once; later runs reuse it), cross-builds the
# updater, the flashing tool and the suites into build-windows/, assembles the release there
# (OrvikUpdater/, its zip and its installer), runs the Windows suites under Wine and the window
# scenarios against the release. Run it as root or with sudo. `scripts/windows.sh release`
# builds only what the release needs, and no suites.
set -euo pipefail
cd "$(dirname "$0")/.."

# What the Windows build is given: beside the project, as on the machines it was made for.
given="${ORVIK_WINDOWS_GIVEN:-}"
for candidate in "$(cd .. && pwd)/shared/windows" /work/shared/windows; do
    if [ -z "$given" ] && [ -d "$candidate" ]; then
        given="$candidate"
    fi
done
given="${given:-$(cd .. && pwd)/shared/windows}"
sdk_tarball="$given/qt5-mingw/orvik-qt5-mingw-5.15.8.tar.xz"
# Where the SDK was built for: its qmake and CMake files name this folder.
sdk=/opt/orvik-qt5-mingw
if [ ! -f "$sdk_tarball" ]; then
    echo "No Qt SDK for MinGW at $sdk_tarball (set ORVIK_WINDOWS_GIVEN to the folder that has" \
        "qt5-mingw/ and src/)" >&2
    exit 1
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

scripts/install-deps.sh

checksum="$(sha256sum <"$sdk_tarball" | cut -d' ' -f1)"
if [ "$(cat "$sdk/.orvik-sdk" 2>/dev/null)" != "$checksum" ]; then
    echo "Unpacking the Qt SDK for MinGW into $sdk"
    $sudo rm -rf "$sdk"
    $sudo tar -C "$(dirname "$sdk")" -xJf "$sdk_tarball"
    echo "$checksum" | $sudo tee "$sdk/.orvik-sdk" >/dev/null
fi

cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_PREFIX_PATH="$sdk" -DCMAKE_BUILD_TYPE=Release \
    -DORVIK_WINDOWS_SOURCES="$given/src" -DORVIK_WINDOWS_DRIVER="$given/driver" >/dev/null
if [ "${1:-}" = release ]; then
    cmake --build build-windows -j"$(nproc)" --target release
    exit 0
fi
cmake --build build-windows -j"$(nproc)"
cmake --build build-windows --target release
ls -l build-windows/OrvikUpdater-*-win64.zip build-windows/OrvikUpdater-*-setup.exe

# The suites under Wine, with an X server for the ones that show windows.
(cd build-windows && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2)

# The window scenarios are a Linux program (X tools, OCR) driving the release under Wine.
cmake -S . -B build -DORVIK_WINDOWS_BUILD="$PWD/build-windows" >/dev/null
cmake --build build -j"$(nproc)" --target tst_gui
(cd build && ctest -R '^tst_gui_windows$' --output-on-failure)
