#!/bin/sh
# Tries the README's quick start on a fresh Debian of another release, from
# this machine: a root made by debootstrap from Debian's archive, then in it
# what a new user does (install make and git, clone the project, run make),
# as root (make-root.sh makes it, in-root.sh stages it as a real system).
#   fresh-debian.sh [--user] SUITE [TARGETS...]
#   e.g.  fresh-debian.sh trixie test "lintian check-installed"
# Each TARGETS argument is one make command. With --user, the new user is
# not root but may use sudo, as on a desktop installation (the tests that
# need root then skip). The clone is of the committed project (HEAD).
# Needs root; the root is made anew in build-SUITE/root each time.
set -eu
cd "$(dirname "$0")/.."

as_user=false
while true; do
    case "${1:-}" in
        --user) as_user=true ;;
        *) break ;;
    esac
    shift
done
suite=$1
shift
[ "$(id -u)" -eq 0 ] || { echo "fresh-debian.sh needs root (debootstrap, mounts)" >&2; exit 1; }
project=$(pwd)
root="$project/build-$suite/root"
started=$(date +%s)
scripts/make-root.sh "$suite" "$root"
echo "fresh-debian: $suite root made in $(($(date +%s) - started)) s"
# The project as a clone sees it: its history up to HEAD, in a bundle that
# anyone in the root may clone from.
git bundle create -q "$root/linewatch.bundle" HEAD "$(git symbolic-ref -q --short HEAD || echo HEAD)"
chmod 0644 "$root/linewatch.bundle"

# What the user types: the README's words.
steps="sudo apt-get update -q && sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q make git \
    && git clone -q /linewatch.bundle ~/linewatch && cd ~/linewatch"
for target in "$@"; do
    steps="$steps && echo \"fresh-debian: make $target\" && make $target"
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

scripts/in-root.sh "$root" "$inside"
echo "fresh-debian: $suite done in $(($(date +%s) - started)) s"
