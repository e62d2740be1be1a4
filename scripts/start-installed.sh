#!/bin/sh
# Starts the installed linewatch under a private Xvfb, waits for its window,
# presses "Quit" and expects it to end with status 0.
set -eu

work=$(mktemp -d)
cleanup() {
    kill "${xvfb:-}" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
while [ ! -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

# On a session bus of its own, as on a desktop: with none, D-Bus would
# start one for it (dbus-launch, where installed) that outlives it.
dbus-run-session -- /usr/bin/linewatch 2>"$work/stderr" &
program=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1) || true
if [ -z "$window" ]; then
    echo "the installed linewatch showed no window:" >&2
    cat "$work/stderr" >&2
    exit 1
fi
xdotool mousemove --window "$window" 146 174 click 1 # Quit
status=0
wait "$program" || status=$?
if [ "$status" -ne 0 ]; then
    echo "the installed linewatch exited with status $status:" >&2
    cat "$work/stderr" >&2
    exit 1
fi
