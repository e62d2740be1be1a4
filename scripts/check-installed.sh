#!/bin/sh
# Installs the Debian package from `make deb`, checks what it put in place
# (the manual page as man finds it, the desktop entry and metainfo as the
# desktop reads them), starts the installed program under Xvfb, presses
# "Quit" and checks that it ended cleanly; then removes the package again.
# The port is never opened.
set -eu
cd "$(dirname "$0")/.."

package=$(ls build/linewatch_*.deb | head -n 1)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y -q --no-install-recommends "./$package"

work=$(mktemp -d)
cleanup() {
    kill "${xvfb:-}" 2>/dev/null || true
    rm -rf "$work"
    $sudo apt-get remove -y -q linewatch >/dev/null
}
trap cleanup EXIT INT TERM

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
while [ ! -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

desktop-file-validate /usr/share/applications/io.linewatch.linewatch.desktop
test -f /usr/share/icons/hicolor/scalable/apps/io.linewatch.linewatch.svg
appstreamcli validate --no-net --pedantic /usr/share/metainfo/io.linewatch.linewatch.metainfo.xml >/dev/null
page=$(man -w linewatch) || { echo "man finds no page for linewatch" >&2; exit 1; }
man linewatch 2>/dev/null | grep -q "watch a serial line" || { echo "man linewatch shows no such page" >&2; exit 1; }

# On a session bus of its own, as on a desktop: with none, D-Bus would
# start one for it (dbus-launch, where installed) that outlives it.
dbus-run-session -- /usr/bin/linewatch &
program=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1)
[ -n "$window" ] || { echo "the installed linewatch showed no window" >&2; exit 1; }
xdotool mousemove --window "$window" 146 174 click 1 # Quit
status=0
wait "$program" || status=$?
if [ "$status" -ne 0 ]; then
    echo "the installed linewatch exited with status $status" >&2
    exit 1
fi
echo "installed package: $package has its manual page ($page), starts, shows its window and quits with status 0"
