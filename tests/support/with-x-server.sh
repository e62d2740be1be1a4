#!/bin/sh
# Runs a command as a desktop program runs: on a private X server, with a
# private D-Bus session, on Qt's xcb platform. Both go when the command ends,
# with everything started on them.
#   with-x-server.sh [--needs TOOL]... COMMAND [ARGUMENTS...]
# Exits 77, not run, where the machine cannot start them (Xvfb or
# dbus-run-session not installed), or lacks a TOOL the command needs.
set -eu

if [ -z "${LINEWATCH_ON_X_SERVER:-}" ]; then
    tools="Xvfb dbus-run-session"
    while [ "$#" -gt 1 ] && [ "$1" = --needs ]; do
        tools="$tools $2"
        shift 2
    done
    for tool in $tools; do
        if ! command -v "$tool" >/dev/null; then
            echo "not run: $tool is not installed" >&2
            exit 77
        fi
    done
    # Xvfb picks a free display itself and says which: servers that other
    # tests start at the same moment cannot take the same one (xvfb-run's
    # own pick can).
    dir=$(mktemp -d)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/log" &
    xvfb=$!
    trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT
    tries=0
    until [ -s "$dir/display" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 300 ] || ! kill -0 "$xvfb" 2>/dev/null; then
            echo "Xvfb did not start:" >&2
            cat "$dir/log" >&2
            exit 1
        fi
        sleep 0.1
    done
    DISPLAY=":$(cat "$dir/display")"
    export DISPLAY LINEWATCH_ON_X_SERVER=1
    status=0
    dbus-run-session -- "$0" "$@" || status=$?
    exit "$status"
fi

export QT_QPA_PLATFORM=xcb
exec "$@"
