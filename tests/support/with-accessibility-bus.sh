#!/bin/sh
# Runs a command as a screen reader's neighbour would: on a private X server,
# with a private D-Bus session and the accessibility bus on it, so that Qt
# switches its accessibility on and delivers every event.
#   with-accessibility-bus.sh COMMAND [ARGUMENTS...]
# Exits 77, not run, where the machine has no accessibility bus to start
# (at-spi2-core, or the X server and session bus tools, not installed:
# with-x-server.sh).
set -eu

if [ -z "${LINEWATCH_ON_ACCESSIBILITY_BUS:-}" ]; then
    for tool in dbus-send; do
        if ! command -v "$tool" >/dev/null; then
            echo "not run: $tool is not installed" >&2
            exit 77
        fi
    done
    if ! grep -qsx 'Name=org.a11y.Bus' /usr/share/dbus-1/services/*.service; then
        echo "not run: no session service starts the accessibility bus (at-spi2-core is not installed)" >&2
        exit 77
    fi
    export LINEWATCH_ON_ACCESSIBILITY_BUS=1
    exec "$(dirname "$0")/with-x-server.sh" "$0" "$@"
fi

# Asking the session bus for the accessibility bus starts it (D-Bus
# activation, as on a desktop); it is up once it answers.
tries=0
until dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" -gt 300 ]; then
        echo "the accessibility bus did not start" >&2
        exit 1
    fi
    sleep 0.1
done

export QT_QPA_PLATFORM=xcb
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$@"
