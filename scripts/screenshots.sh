#!/bin/sh
# make screenshots: the README's pictures, taken from the real program under
# Xvfb with the simulated sensor on port 1. Writes docs/*.png.
#
#   scripts/screenshots.sh [PROGRAM]     (default build/linewatch)
set -eu
cd "$(dirname "$0")/.."
program=${1:-build/linewatch}

work=$(mktemp -d)
cleanup() {
    for pid in ${linewatch:-} ${device:-} ${xvfb:-}; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir "$work/lock"

# A display of our own; -displayfd tells which number it took.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
while [ ! -s "$work/display" ]; do sleep 0.1; done
DISPLAY=:$(cat "$work/display")
export DISPLAY

scripts/demo-device.py > "$work/line" &
device=$!
while [ ! -s "$work/line" ]; do sleep 0.1; done

shoot() { # name width height: the top left of the screen, where the window is
    import -window root -crop "$2x$3+0+0" +repage "docs/$1.png"
    echo "docs/$1.png"
}
click() { # x y, in the window's own (unscaled) pixels
    xdotool mousemove --window "$window" $(($1 * scale)) $(($2 * scale)) click 1
}
openButton() { click 86 174; }
quitButton() { click 146 174; }

startLinewatch() { # scale
    scale=$1
    QT_SCALE_FACTOR=$scale scripts/with-port1.sh "$(head -n 1 "$work/line")" "$work/lock" "$program" &
    linewatch=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1)
    sleep 0.5
}

startLinewatch 1
shoot linewatch-start 246 209

openButton
sleep 8
xdotool mousemove 600 400 # no hover highlight on the buttons
sleep 0.3
shoot linewatch-receiving 246 209

# Another program takes the port: its lock file names a running process.
openButton # "Close"
printf '%10d\n' "$device" > "$work/lock/LCK..ttyS0"
openButton # "Open" fails
sleep 1
shoot linewatch-port-in-use 360 240
xdotool key Return
rm -f "$work/lock/LCK..ttyS0"
quitButton
wait "$linewatch" || true

# Twice the pixels: the window and its text scale together.
startLinewatch 2
openButton
sleep 6
xdotool mousemove 600 400
sleep 0.3
shoot linewatch-scale-2 492 418
quitButton
wait "$linewatch" || true
