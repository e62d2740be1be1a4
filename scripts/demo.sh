#!/bin/sh
# make demo: linewatch with a simulated sensor on port 1. Press "Open".
set -eu
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "make demo opens a window and needs a graphical display (DISPLAY is not set)." >&2
    exit 1
fi

work=$(mktemp -d)
trap 'kill "$device" 2>/dev/null || true; rm -rf "$work"' EXIT INT TERM
mkdir "$work/lock"

scripts/demo-device.py > "$work/line" &
device=$!
while [ ! -s "$work/line" ]; do sleep 0.1; done
line=$(head -n 1 "$work/line")

echo "The simulated sensor is on $line, standing in for port 1."
scripts/with-port1.sh "$line" "$work/lock" build/linewatch &
program=$!

# Press "Open" for the newcomer, where we can: the text starts flowing at once.
if [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null 2>&1 &&
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Form1$' 2>/dev/null | head -n 1) &&
    [ -n "$window" ]; then
    xdotool mousemove --window "$window" 86 174 click 1
    echo "Pressed \"Open\" for you. \"Close\" stops watching, \"Quit\" ends the demo."
else
    echo "Press \"Open\" to watch the sensor, \"Quit\" to end the demo."
fi
wait "$program"
