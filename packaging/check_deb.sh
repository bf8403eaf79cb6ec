#!/usr/bin/env bash
# Builds the Debian package with CPack and checks its control data and contents. As root, with
# ORVIK_TEST_INSTALL_DEB=1 or CI=true, also installs it, starts the program from its desktop
# entry under Xvfb, and purges the package again; otherwise that part is skipped (exit 77).
#
# Usage: check_deb.sh CPACK CPACK_CONFIG APP_ID [QT_MAJOR]
set -euo pipefail
cpack=$1 config=$2 app_id=$3 qt_major=${4:-5}
work=$(mktemp -d)
installed=""
cleanup() {
    if [ -n "$installed" ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq orvik-updater >/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

"$cpack" --config "$config" -B "$work" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"
    fail "cpack"
}
debs=("$work"/orvik-updater_*.deb)
[ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] || fail "not one orvik-updater_*.deb: ${debs[*]}"
deb=${debs[0]}
echo "Built $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/[[:space:]]//g')
if [ "$qt_major" = 6 ]; then
    renamed=(libqt6core6=libqt6core6t64)
    runtime=(libqt6core6 libqt6gui6 libqt6widgets6 libqt6qml6 libqt6quick6 libqt6serialport6
        qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-dialogs
        qml6-module-qtqml-workerscript qml6-module-qtquick-templates qml6-module-qtquick-layouts
        qml6-module-qtquick-controls qml6-module-qt-labs-folderlistmodel)
else
    renamed=(libqt5core5a=libqt5core5t64 libqt5gui5=libqt5gui5t64 libqt5widgets5=libqt5widgets5t64)
    runtime=(libqt5core5a libqt5gui5 libqt5widgets5 libqt5qml5 libqt5quick5 libqt5serialport5
        qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-dialogs
        qml-module-qtquick-controls qml-module-qtquick-layouts qml-module-qtquick-privatewidgets
        qml-module-qt-labs-folderlistmodel qml-module-qt-labs-settings)
fi
for package in dfu-util "${runtime[@]}"; do
    grep -qx "$package" <<<"$names" || fail "Depends lacks $package"
done
# Installable beyond the Qt release and the distribution that built it: no package that only
# one Qt release provides, the dfu-util whose output the updater reads, and a library that a
# later release renamed accepted under either name, at the same version.
if grep -E -- '-abi(-|$)' <<<"$names"; then fail "Depends names one Qt release's ABI"; fi
grep -Eq '(^|, )dfu-util \(>= 0\.11\)(,|$)' <<<"$depends" || fail "Depends lacks dfu-util (>= 0.11)"
for rename in "${renamed[@]}"; do
    grep -Eq "(^|, )${rename%=*} (\([^)]*\)) \| ${rename#*=} \2( \||,|$)" <<<"$depends" ||
        fail "Depends does not accept ${rename#*=} for ${rename%=*}"
done
[ "$(dpkg-deb -f "$deb" Package)" = orvik-updater ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Maintainer)" = "Kestrane Audio <support@kestrane.invalid>" ] || fail "maintainer"

contents=$(dpkg-deb -c "$deb")
link='\./usr/lib/orvik-updater/dfu-util-0\.11/win64/dfu-util-static\.exe -> /usr/bin/dfu-util'
grep -Eq "^l.* $link\$" <<<"$contents" || fail "no link from the tool's path to dfu-util: $contents"
if grep -E 'tst_|fakedfu|/usr/local/' <<<"$contents"; then fail "test programs or /usr/local packaged"; fi

# The launcher and desktop entry must name /usr, the package's prefix, not the build's own.
dpkg-deb -x "$deb" "$work/root"
launcher=$work/root/usr/bin/orvik-updater
grep -qx "cd '/usr/lib/orvik-updater' && exec ./orvik-updater \"\$@\"" "$launcher" ||
    fail "launcher: $(cat "$launcher")"
desktop=usr/share/applications/$app_id.desktop
grep -qx 'Exec=/usr/bin/orvik-updater' "$work/root/$desktop" || fail "desktop Exec"
grep -qx 'Path=/usr/lib/orvik-updater' "$work/root/$desktop" || fail "desktop Path"
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
    grep -q 'udevadm control --reload-rules' "$work/control/$script" || fail "$script: no udev reload"
done
echo "PASS: control data and contents"

if [ "$(id -u)" != 0 ] || { [ "${ORVIK_TEST_INSTALL_DEB:-}" != 1 ] && [ "${CI:-}" != true ]; }; then
    echo "Installing the package skipped: needs root and ORVIK_TEST_INSTALL_DEB=1 or CI=true"
    exit 77
fi
if dpkg-query -W -f='${Status}' orvik-updater 2>/dev/null | grep -q 'install ok installed'; then
    echo "Installing the package skipped: orvik-updater is already installed here"
    exit 77
fi

chmod 755 "$work" # apt reads the local package as its unprivileged user
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || {
    cat "$work/apt.log"
    fail "apt-get install"
}
tool=$(readlink -f /usr/lib/orvik-updater/dfu-util-0.11/win64/dfu-util-static.exe)
[ "$tool" = /usr/bin/dfu-util ] || fail "installed tool path resolves to '$tool'"

exec_line=$(sed -n 's/^Exec=//p' "/$desktop")
path=$(sed -n 's/^Path=//p' "/$desktop")
class=$(sed -n 's/^StartupWMClass=//p' "/$desktop")
# A temporary directory of its own keeps its single-instance key apart from other tests', and a
# session bus of its own keeps D-Bus from launching one for the display that outlives the check.
mkdir "$work/tmp"
TMPDIR=$work/tmp dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    cd "$1" || exit 1
    $2 >/dev/null 2>&1 &
    pid=$!
    title="^Orvik Firmware Updater\$"
    window=$(timeout 120 xdotool search --sync --onlyvisible --name "$title" | head -n 1)
    cwd=$(readlink "/proc/$pid/cwd")
    classes=$(xdotool search --class "^$3\$" || true)
    kill "$pid"
    wait "$pid" || true
    [ -n "$window" ] || { echo "FAIL: no window appeared"; exit 1; }
    [ "$cwd" = /usr/lib/orvik-updater ] || { echo "FAIL: program runs in $cwd"; exit 1; }
    grep -qx "$window" <<<"$classes" || { echo "FAIL: window class is not $3"; exit 1; }
' bash "$path" "$exec_line" "$class" || fail "starting the installed program"
echo "PASS: the installed program showed its window, working in $path"

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq orvik-updater >"$work/apt.log" 2>&1 || {
    cat "$work/apt.log"
    fail "apt-get purge"
}
installed=""
[ ! -e /usr/lib/orvik-updater/orvik-updater ] || fail "program left behind after removal"
echo "PASS: installed, started and purged"
