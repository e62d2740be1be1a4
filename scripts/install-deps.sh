#!/bin/sh
# Installs the Debian packages linewatch needs to build, run and test, when
# any is missing. Uses sudo when not run as root. The same list serves every
# release: where a package's name carries a version, the release's own
# choice decides it.
#   install-deps.sh [PACKAGE...]    the PACKAGEs too, for a check that needs them
set -eu

packages="
    cmake make g++ pkgconf
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgtest-dev libgmock-dev
    liblz4-dev libzstd-dev
    clang
    libxcb1-dev
    xvfb xauth xdotool xclip x11-utils imagemagick
    dbus-daemon dbus-bin at-spi2-core
    desktop-file-utils appstream python3
    build-essential debhelper lintian dpkg-dev
    fonts-dejavu-core
    util-linux procps strace
    $*
"

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# Clang's runtime (libFuzzer, the sanitizers) is packaged once per Clang
# version: the one for the version the release's clang stands for.
clang_runtime() {
    sed -n 's/^ *\(Depends: \)\{0,1\}clang-\([0-9][0-9]*\)\([ ,].*\)\{0,1\}$/libclang-rt-\2-dev/p' | head -n 1
}

missing=""
for package in $packages; do
    installed "$package" || missing="$missing $package"
done
runtime=""
if installed clang; then
    runtime=$(dpkg-query -W -f='${Depends}\n' clang | tr ',' '\n' | clang_runtime)
    installed "$runtime" || missing="$missing $runtime"
fi

[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q

if [ -z "$runtime" ]; then
    runtime=$(apt-cache depends clang | clang_runtime)
    [ -n "$runtime" ] || { echo "this release's clang names no clang-N package" >&2; exit 1; }
    missing="$missing $runtime"
fi

echo "Installing:$missing"
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
