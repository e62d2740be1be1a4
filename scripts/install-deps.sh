#!/bin/sh
# Installs the Debian packages linewatch needs to build, run and test, when
# any is missing. Uses sudo when not run as root.
set -eu

packages="
    cmake make g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgtest-dev libgmock-dev
    liblz4-dev libzstd-dev
    clang libclang-rt-14-dev
    libxcb1-dev
    xvfb xauth xdotool xclip x11-utils imagemagick
    dbus-daemon dbus-bin at-spi2-core
    desktop-file-utils appstream python3
    debhelper lintian dpkg-dev
    fonts-dejavu-core
    util-linux procps strace
"

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
    sudo=""
else
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
