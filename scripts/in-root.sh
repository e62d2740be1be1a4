#!/bin/sh
# Runs a shell command as root inside a root made by make-root.sh, staged as
# a real system is: its own /proc, /sys, /dev (with no device of this
# machine's but the basic ones), /dev/pts, /run and /tmp, in a private mount
# and process namespace, so that every mount the command makes and every
# process it starts end with it. Needs root.
#   in-root.sh DIRECTORY COMMAND
# /dev/ttyS0 there is an empty file: the tests put a pseudo-terminal of their
# own in port 1's place.
set -eu

[ "$(id -u)" -eq 0 ] || { echo "in-root.sh needs root (namespaces, mounts)" >&2; exit 1; }

exec unshare --mount --propagation private --pid --fork sh -eu -c '
    root=$1 inside=$2
    # A root of its own is a mount point, as / is on a real system.
    mount --bind "$root" "$root"
    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"

    mount -t tmpfs -o mode=0755,nosuid dev "$root/dev"
    mknod -m 0666 "$root/dev/null" c 1 3
    mknod -m 0666 "$root/dev/zero" c 1 5
    mknod -m 0666 "$root/dev/full" c 1 7
    mknod -m 0666 "$root/dev/random" c 1 8
    mknod -m 0666 "$root/dev/urandom" c 1 9
    mknod -m 0666 "$root/dev/tty" c 5 0
    ln -s /proc/self/fd "$root/dev/fd"
    ln -s /proc/self/fd/0 "$root/dev/stdin"
    ln -s /proc/self/fd/1 "$root/dev/stdout"
    ln -s /proc/self/fd/2 "$root/dev/stderr"
    mkdir "$root/dev/pts" "$root/dev/shm"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$root/dev/pts"
    ln -s pts/ptmx "$root/dev/ptmx"
    mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
    touch "$root/dev/ttyS0"

    mount -t tmpfs -o mode=0755,nosuid,nodev run "$root/run"
    mkdir -m 1777 "$root/run/lock"
    mount -t tmpfs -o mode=1777,nosuid,nodev tmp "$root/tmp"

    # The root becomes the namespace'"'"'s own (pivot_root, not chroot), so that
    # paths in other mount namespaces read as on a real system.
    mkdir -p "$root/.host"
    cd "$root"
    pivot_root . .host
    exec chroot . /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        sh -eu -c "umount -l /.host && rmdir /.host && $inside"
' sh "$1" "$2"
