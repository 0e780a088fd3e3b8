#!/usr/bin/env bash
# Installs the Debian packages a purpose needs; only those that dpkg-query reports missing.
# Usage: scripts/install-deps.sh [run|test|package]
#   run      building and running the program (the default; CMake wants python3 to configure
#            the tests, which a build tree holds unless BUILD_TESTING is off)
#   package  the same, plus building the Debian package
#   test     all of the above, plus every tool the tests use
# One package group per line: add a line to the list of the purpose that needs it.
set -euo pipefail

run_packages=(
    cmake ninja-build g++ make pkg-config
    qt6-base-dev qt6-declarative-dev qt6-declarative-private-dev qt6-declarative-dev-tools
    qt6-multimedia-dev
    libqt6sql6-sqlite qt6-qpa-plugins
    qml6-module-qtqml qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
    qml6-module-qtquick-templates qml6-module-qtquick-dialogs qml6-module-qtquick-window
    qml6-module-qtqml-workerscript qml6-module-qtqml-models qml6-module-qt-labs-folderlistmodel
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    libssl-dev libical-dev qtkeychain-qt6-dev libsqlite3-dev
    python3
)

package_packages=(
    dpkg-dev file
)

test_packages=(
    qml6-module-qttest
    python3-icalendar python3-dateutil
    at-spi2-core python3-pyatspi
    xvfb xauth xdotool x11-apps x11-utils
    imagemagick
    sqlite3 tzdata
    pulseaudio pulseaudio-utils
    desktop-file-utils appstream lintian
    radicale apache2-utils python3-caldav openssl xandikos
    dbus python3-dbusmock
    debootstrap
    vdirsyncer
)

purpose=${1:-run}
packages=("${run_packages[@]}")
case "$purpose" in
    run) ;;
    package) packages+=("${package_packages[@]}") ;;
    test) packages+=("${package_packages[@]}" "${test_packages[@]}") ;;
    *)
        echo "usage: $0 [run|test|package]" >&2
        exit 2
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
