#!/bin/sh
# Installs the Debian packages linewatch needs to build, run and test, when
# any is missing. Uses sudo when not run as root. The same list serves every
# release: where a package's name carries a version, the release's own
# choice decides it.
set -eu

packages="
    cmake make g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgtest-dev libgmock-dev
    liblz4-dev libzstd-dev
    clang
    libxcb1-dev
    xvfb xauth xdotool xclip x11-utils imagemagick
    dbus-daemon dbus-bin at-spi2-core
    desktop-file-utils appstream python3
    debhelper lintian dpkg-dev
    fonts-dejavu-core
    util-linux procps strace
"

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# Clang's runtime (libFuzzer, the sanitizers) is packaged once per Clang
# version: the one for the version the release's clang stands for.
clang_runtime() {
    sed -n 's/^ *\(Depends: \)\{0,1\}clang-\([0-9][0-9]*\)\([ ,].*\)\{0,1\}$/libclang-rt-\2-dev/p' | head -n 1
}

# Since Qt 6.6 the X11 platform plugin is a package of its own, which the
# Qt libraries only recommend; before, it came with libqt6gui6.
xcb_plugin_present() {
    ls /usr/lib/*/qt6/plugins/platforms/libqxcb.so >/dev/null 2>&1
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
xcb_plugin_present || missing="$missing (xcb platform plugin)"

[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q

# What only the release's package lists can tell.
missing=$(echo "$missing" | sed 's/ (xcb platform plugin)//')
if [ -z "$runtime" ]; then
    runtime=$(apt-cache depends clang | clang_runtime)
    [ -n "$runtime" ] || { echo "this release's clang names no clang-N package" >&2; exit 1; }
    missing="$missing $runtime"
fi
if ! xcb_plugin_present && apt-cache show qt6-qpa-plugins >/dev/null 2>&1; then
    missing="$missing qt6-qpa-plugins"
fi

echo "Installing:$missing"
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
