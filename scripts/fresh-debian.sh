#!/bin/sh
# Tries the README's quick start on a fresh Debian of another release, from
# this machine: a root made by debootstrap from Debian's archive, then in it
# what a new user does (install make and git, clone the project, run make),
# as root. The root is staged as a real system is: its own /proc, /sys, /dev
# and /dev/pts, in a private mount and process namespace, so that the tests'
# own mounts and every process started in it end with it. This machine's
# devices are not in its /dev.
#   fresh-debian.sh [--user] [--desktop] SUITE [TARGETS...]
#   e.g.  fresh-debian.sh trixie test "lintian check-installed"
# Each TARGETS argument is one make command. With --user, the new user is
# not root but may use sudo, as on a desktop installation (the tests that
# need root then skip). With --desktop, the root has what a desktop
# installation adds that the suite could meet (dbus-x11, at-spi2-core), and
# make runs in a session with a running session bus. The clone is of the
# committed project (HEAD). Needs root; the root is made anew in
# build-SUITE/root each time.
set -eu
cd "$(dirname "$0")/.."

as_user=false
desktop=false
while true; do
    case "${1:-}" in
        --user) as_user=true ;;
        --desktop) desktop=true ;;
        *) break ;;
    esac
    shift
done
suite=$1
shift
[ "$(id -u)" -eq 0 ] || { echo "fresh-debian.sh needs root (debootstrap, mounts)" >&2; exit 1; }
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap

project=$(pwd)
root="$project/build-$suite/root"
rm -rf "$root"
mkdir -p "$root"
started=$(date +%s)
debootstrap --variant=minbase "$suite" "$root" http://deb.debian.org/debian >"$project/build-$suite/debootstrap.log" 2>&1 ||
    { tail -n 20 "$project/build-$suite/debootstrap.log" >&2; exit 1; }
echo "fresh-debian: $suite root made in $(($(date +%s) - started)) s"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The project as a clone sees it: its history up to HEAD, in a bundle that
# anyone in the root may clone from.
git bundle create -q "$root/linewatch.bundle" HEAD "$(git symbolic-ref -q --short HEAD || echo HEAD)"
chmod 0644 "$root/linewatch.bundle"

# What the user types: the README's words.
steps="sudo apt-get update -q && sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q make git \
    && git clone -q /linewatch.bundle ~/linewatch && cd ~/linewatch"
session=""
if $desktop; then
    steps="$steps && sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q dbus-x11 at-spi2-core"
    session="dbus-run-session -- "
fi
for target in "$@"; do
    steps="$steps && echo \"fresh-debian: make $target\" && ${session}make $target"
done
if $as_user; then
    # A desktop installation's first user: in the sudo group, and asked for
    # no password here, as nobody is there to type it.
    inside="apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q sudo \
        && useradd --create-home --groups sudo --shell /bin/sh newcomer \
        && echo 'newcomer ALL=(ALL) NOPASSWD: ALL' >/etc/sudoers.d/newcomer \
        && cd /home/newcomer && runuser -u newcomer -- env HOME=/home/newcomer sh -eu -c '$steps'"
else
    # Root has no sudo on a fresh system; it needs none.
    inside="sudo() { \"\$@\"; } && $steps"
fi

unshare --mount --propagation private --pid --fork sh -eu -c '
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
    # Where port 1 is: the tests put a pseudo-terminal of their own there.
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
' sh "$root" "$inside"
echo "fresh-debian: $suite done in $(($(date +%s) - started)) s"
