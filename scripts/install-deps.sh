#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test the program.
# Only packages that dpkg-query reports missing are installed.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config
    qt6-base-dev qt6-declarative-dev qt6-declarative-private-dev qt6-declarative-dev-tools qt6-multimedia-dev
    libqt6sql6-sqlite qt6-qpa-plugins
    qml6-module-qtqml qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
    qml6-module-qtquick-templates qml6-module-qtquick-dialogs qml6-module-qtquick-window
    qml6-module-qtqml-workerscript qml6-module-qtqml-models
    qml6-module-qt-labs-folderlistmodel qml6-module-qttest
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    libssl-dev qtkeychain-qt6-dev
    python3 xvfb xauth xdotool x11-apps x11-utils imagemagick sqlite3 pulseaudio pulseaudio-utils tesseract-ocr
    radicale apache2-utils python3-caldav openssl
)

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
