#!/usr/bin/env bash
# Installs, from Debian's archive, what the updater and its tests need to build and run.
set -euo pipefail

packages=(
    cmake g++ make pkg-config python3
    qtbase5-dev qtdeclarative5-dev libqt5serialport5-dev
    # qmlcachegen: the window's QML is compiled into the program
    qtdeclarative5-dev-tools
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-dialogs
    qml-module-qtquick-controls qml-module-qtquick-layouts qml-module-qtquick-privatewidgets
    qml-module-qt-labs-folderlistmodel qml-module-qt-labs-settings
    # the same program and tests against Qt 6 (cmake -DORVIK_QT_MAJOR=6)
    qt6-base-dev qt6-declarative-dev qt6-serialport-dev
    qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-dialogs
    qml6-module-qtqml-workerscript qml6-module-qtquick-templates qml6-module-qtquick-layouts
    qml6-module-qtquick-controls qml6-module-qt-labs-folderlistmodel
    fonts-liberation
    dfu-util
    umockdev libumockdev-dev libusb-1.0-0-dev
    xvfb xauth xdotool imagemagick libxcb1-dev libxcb-damage0-dev tesseract-ocr
    # dbus-run-session for the suites under X; dbus-x11 and at-spi2-core because every desktop
    # has them, so that the tests are proven on such a machine
    dbus-daemon dbus-x11 at-spi2-core
    desktop-file-utils appstream dpkg-dev file
    # the package installed into a fresh Debian 13 root (packaging/check_deb_trixie.sh)
    debootstrap
    binutils-mingw-w64-x86-64
    # the Windows release (scripts/windows.sh): MinGW, Wine to run it, NSIS for its installer
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 nsis
    # releases (scripts/release.sh, scripts/check-release.sh): signing, the throwaway
    # certificates of its check, and what tells how two builds differ
    osslsigncode openssl diffoscope-minimal
    clang libclang-rt-14-dev valgrind
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ "${#missing[@]}" -gt 0 ]; then
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
