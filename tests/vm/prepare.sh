#!/bin/sh
# Makes what the real-driver tests boot: Debian's own kernel (fetched with
# apt-get download and unpacked, never installed, so the machine's kernel
# and /boot stay as they are) and a busybox initramfs holding the modules
# the guest needs before it can reach the machine's root over 9p. Both are
# kept in build-vm/ and made again only when the kernel version changes.
# Installs the Debian packages the rig needs when any is missing.
set -eu
cd "$(dirname "$0")/../.."
out=build-vm

packages="qemu-system-x86 busybox-static kmod cpio"
missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    # shellcheck disable=SC2086
    $sudo apt-get install -y -q --no-install-recommends $missing
fi

# The kernel the metapackage names today, e.g. linux-image-6.1.0-57-amd64.
image=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)
[ -n "$image" ] || { echo "prepare.sh: apt-cache names no kernel for linux-image-amd64" >&2; exit 1; }
version=${image#linux-image-}

mkdir -p "$out"
root="$out/initramfs"

# The initramfs's files without its init script, kept so that a changed
# init.sh only needs a new archive.
pack() {
    cp tests/vm/init.sh "$root/init"
    chmod 755 "$root/init"
    (cd "$root" && find . | cpio -o -H newc --quiet) >"$out/initramfs.cpio.new"
    mv "$out/initramfs.cpio.new" "$out/initramfs.cpio"
}

if [ -s "$out/vmlinuz" ] && [ -d "$root/modules" ] && [ "$(cat "$out/kernel-version" 2>/dev/null)" = "$version" ]; then
    [ -s "$out/initramfs.cpio" ] && [ tests/vm/init.sh -ot "$out/initramfs.cpio" ] || pack
    exit 0
fi

echo "Fetching $image"
rm -rf "$out/kernel" "$out/initramfs" "$out"/*.deb
(cd "$out" && apt-get download "$image")
dpkg-deb -x "$out"/"$image"_*.deb "$out/kernel"
rm -f "$out"/"$image"_*.deb
cp "$out/kernel/boot/vmlinuz-$version" "$out/vmlinuz"
depmod -b "$out/kernel" "$version"

# The modules in load order, each once: virtio and 9p for the root, the
# virtio console for the log and the rig's commands, xHCI and ftdi_sio for
# the adapter. The 8250 UART driver is built in.
mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/dev" "$root/mnt" "$root/modules"
: >"$root/modules/order"
for module in virtio_pci 9pnet_virtio 9p virtio_console xhci-pci ftdi_sio; do
    modprobe -d "$out/kernel" -S "$version" --show-depends "$module" | awk '$1 == "insmod" { print $2 }'
done | awk '!seen[$0]++' | while read -r path; do
    cp "$path" "$root/modules/"
    basename "$path" >>"$root/modules/order"
done
cp /bin/busybox "$root/bin/busybox"
pack
rm -rf "$out/kernel"
echo "$version" >"$out/kernel-version"
