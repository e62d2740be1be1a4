#!/bin/busybox sh
# The guest's first process: loads the modules, mounts the machine's root
# (read-only, over 9p), the project at its own path and the rig's writable
# share, gives that root its own kernel file systems, and hands over to the
# rig's agent inside it. The agent's path, the project's and the control
# port's name come on the kernel command line (rig.agent=, rig.project=,
# rig.port=).
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
while read -r module; do
    insmod "/modules/$module" || echo "init: insmod $module failed"
done </modules/order

# hvc0, the log, appears with virtio_console.
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -e /dev/hvc0 ] && break; sleep 0.1; done
exec >/dev/hvc0 2>&1 </dev/null

for word in $(cat /proc/cmdline); do
    case "$word" in
        rig.agent=*) agent=${word#rig.agent=} ;;
        rig.port=*) port=${word#rig.port=} ;;
        rig.project=*) project=${word#rig.project=} ;;
    esac
done

nine="trans=virtio,version=9p2000.L,msize=262144"
mount -t 9p -o "$nine,ro" hostroot /mnt || { echo "init: no host root"; poweroff -f; }
mount -t proc proc /mnt/proc
mount -t sysfs sysfs /mnt/sys
mount -t devtmpfs devtmpfs /mnt/dev
mkdir -p /mnt/dev/pts /mnt/dev/shm
mount -t devpts -o newinstance,ptmxmode=0666 devpts /mnt/dev/pts
mount -t tmpfs tmpfs /mnt/dev/shm
mount -t tmpfs tmpfs /mnt/run
mkdir -p /mnt/run/lock
mount -t tmpfs tmpfs /mnt/tmp
mkdir -p /mnt/tmp/out
mount -t 9p -o "$nine" out /mnt/tmp/out || echo "init: no writable share"
# The project over whatever the guest's own file systems put in its place.
mkdir -p "/mnt$project" 2>/dev/null
mount -t 9p -o "$nine,ro" project "/mnt$project" || echo "init: no project share"

# The control port by the name the host gave it; there is no udev to make
# /dev/virtio-ports/ links.
device=""
for named in /sys/class/virtio-ports/*/name; do
    [ "$(cat "$named")" = "$port" ] && device=/dev/$(basename "$(dirname "$named")")
done
[ -n "$device" ] || { echo "init: no port named $port"; poweroff -f; }

echo "init: up, agent on $device"
chroot /mnt /usr/bin/python3 "$agent" "$device"
echo "init: agent ended with $?"
poweroff -f
