#!/bin/sh
# Installs the Debian package from `make deb` and checks what it put in place
# (the manual page as man finds it, the desktop entry and metainfo as the
# desktop reads them); then removes it again. Then, in a fresh minimal root
# of this machine's release, installs the package as a user would, without
# recommended packages, and starts it there under Xvfb: its dependencies,
# and nothing a developer's machine happens to have, must be enough to open
# its window. The port is never opened.
set -eu
cd "$(dirname "$0")/.."

package=$(ls build/linewatch_*.deb | head -n 1)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y -q --no-install-recommends "./$package"

root=build/installed-root
cleanup() {
    $sudo apt-get remove -y -q linewatch >/dev/null
    $sudo rm -rf "$root" "$root.log"
}
trap cleanup EXIT INT TERM

desktop-file-validate /usr/share/applications/io.linewatch.linewatch.desktop
test -f /usr/share/icons/hicolor/scalable/apps/io.linewatch.linewatch.svg
appstreamcli validate --no-net --pedantic /usr/share/metainfo/io.linewatch.linewatch.metainfo.xml >/dev/null
page=$(man -w linewatch) || { echo "man finds no page for linewatch" >&2; exit 1; }
man linewatch 2>/dev/null | grep -q "watch a serial line" || { echo "man linewatch shows no such page" >&2; exit 1; }
echo "installed package: $package has its manual page ($page), desktop entry, icon and metainfo"

suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
started=$(date +%s)
$sudo scripts/make-root.sh "$suite" "$root"
$sudo cp "$package" scripts/start-installed.sh "$root/"
# What starts it from outside, Xvfb, xdotool and a session bus, brings no
# Qt plugin and no library the program needs.
$sudo scripts/in-root.sh "$root" "apt-get update -q >/dev/null \
    && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        /$(basename "$package") xvfb xdotool dbus-daemon >/dev/null \
    && /start-installed.sh"
echo "installed package: starts on a fresh $suite without recommended packages ($(($(date +%s) - started)) s)"
