#!/bin/sh
# Installs the Debian package from `make deb`, starts the installed program
# under Xvfb, presses "Quit" and checks that it ended cleanly; then removes
# the package again. The port is never opened.
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

test -f /usr/share/applications/io.linewatch.linewatch.desktop
test -f /usr/share/icons/hicolor/scalable/apps/io.linewatch.linewatch.svg
test -f /usr/share/metainfo/io.linewatch.linewatch.metainfo.xml

/usr/bin/linewatch &
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
echo "installed package: $package starts, shows its window and quits with status 0"
