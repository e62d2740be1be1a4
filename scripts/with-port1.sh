#!/bin/sh
# Runs a command with a given device standing in for port 1 (/dev/ttyS0) and
# a private lock folder, in a mount namespace of its own: the machine's own
# serial port and /var/lock are never touched.
#
#   scripts/with-port1.sh DEVICE LOCKDIR COMMAND [ARGUMENTS...]
#
# As root this is a plain mount namespace; otherwise an unprivileged user
# namespace, where the system allows one.
set -eu

device=$1 lockDir=$2
shift 2

if [ ! -e /dev/ttyS0 ]; then
    echo "There is no /dev/ttyS0 on this machine for the device to stand in for." >&2
    exit 1
fi

if [ "$(id -u)" -eq 0 ]; then
    namespace="unshare --mount"
elif unshare --user --map-root-user --mount true 2>/dev/null; then
    namespace="unshare --user --map-root-user --mount"
else
    echo "Putting a device in port 1's place needs root (sudo make demo), or unprivileged" >&2
    echo "user namespaces, which this system does not allow." >&2
    exit 1
fi

# shellcheck disable=SC2016
exec $namespace sh -c 'mount --bind "$0" /dev/ttyS0 && mount --bind "$1" "$(realpath /var/lock)" && shift && exec "$@"' \
    "$device" "$lockDir" "$@"
