#!/bin/sh
# Makes a fresh, minimal root of a Debian release from Debian's archive
# (debootstrap, minbase variant), able to resolve names as this machine
# does. Anything at DIRECTORY is removed first. Needs root.
#   make-root.sh SUITE DIRECTORY
# The log goes to DIRECTORY.log; on failure its end is shown.
set -eu

suite=$1 root=$2
[ "$(id -u)" -eq 0 ] || { echo "make-root.sh needs root (debootstrap)" >&2; exit 1; }
command -v debootstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap >/dev/null

case "$suite" in
    bionic|focal|jammy|noble|*-ubuntu) mirror=http://archive.ubuntu.com/ubuntu ;;
    *) mirror=http://deb.debian.org/debian ;;
esac

rm -rf "$root"
mkdir -p "$root"
debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$root.log" 2>&1 ||
    { tail -n 20 "$root.log" >&2; exit 1; }
cp /etc/resolv.conf "$root/etc/resolv.conf"
