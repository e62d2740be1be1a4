"""One QEMU guest for the real-driver tests: Debian's kernel under TCG, the
machine's root shared read-only over 9p, a writable share for results, and
every wire the tests hold as a Unix socket in the run's folder: the 16550
on ttyS0 (telnet mode, so that a BREAK can be sent), the FTDI adapter on
xHCI, QMP for unplugging it, and the agent's control port."""
import base64
import json
import os
import socket
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD_VM = os.path.join(ROOT, "build-vm")


def connect(path, timeout=30):
    deadline = time.monotonic() + timeout
    while True:
        try:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


class Guest:
    def __init__(self, name, uart, ftdi):
        self.name = name
        self.dir = os.path.join(BUILD_VM, name)
        os.makedirs(os.path.join(self.dir, "out"), exist_ok=True)
        for folder in (self.dir, os.path.join(self.dir, "out")):
            for stale in os.listdir(folder):
                if stale.endswith((".sock", ".log", ".png")):
                    os.unlink(os.path.join(folder, stale))
        self.trace_path = os.path.join(self.dir, "trace.log")
        sock = lambda n: os.path.join(self.dir, n + ".sock")
        args = [
            "qemu-system-x86_64", "-accel", "tcg", "-m", "1536", "-smp", "1",
            "-nodefaults", "-no-user-config", "-vga", "none", "-display", "none",
            "-kernel", os.path.join(BUILD_VM, "vmlinuz"),
            "-initrd", os.path.join(BUILD_VM, "initramfs.cpio"),
            "-append", "console=hvc0 quiet panic=-1 rig.port=rig rig.project=%s rig.agent=%s"
            % (ROOT, os.path.join(ROOT, "tests", "vm", "agent.py")),
            "-no-reboot",
            "-virtfs", "local,path=/,mount_tag=hostroot,security_model=passthrough,readonly=on,multidevs=remap",
            "-virtfs", "local,path=%s,mount_tag=out,security_model=passthrough" % os.path.join(self.dir, "out"),
            # The project again, at its own path: a clone under /tmp would be
            # hidden by the guest's own /tmp.
            "-virtfs", "local,path=%s,mount_tag=project,security_model=passthrough,readonly=on,multidevs=remap"
            % ROOT,
            "-device", "virtio-serial-pci",
            "-chardev", "file,id=log,path=%s" % os.path.join(self.dir, "console.log"),
            "-device", "virtconsole,chardev=log",
            "-chardev", "socket,id=rig,path=%s,server=on,wait=off" % sock("rig"),
            "-device", "virtserialport,chardev=rig,name=rig",
            "-qmp", "unix:%s,server=on,wait=off" % sock("qmp"),
            # Without it the trace lines carry no time (pid@seconds.micro:).
            "-msg", "timestamp=on",
            # What the driver programs, not every read: a megabyte's reads
            # would make a trace of hundreds of megabytes.
            "-trace", "serial_write", "-trace", "serial_update_parameters", "-trace", "usb_serial_*", "-D", self.trace_path,
        ]
        if uart:
            args += ["-chardev", "socket,id=uart,path=%s,server=on,wait=off,telnet=on" % sock("uart"),
                     "-serial", "chardev:uart"]
        else:
            args += ["-serial", "none"]
        if ftdi:
            args += ["-device", "qemu-xhci,id=xhci",
                     "-chardev", "socket,id=ftdi,path=%s,server=on,wait=off" % sock("ftdi"),
                     "-device", "usb-serial,id=ftdi0,bus=xhci.0,chardev=ftdi"]
        self.started = time.monotonic()
        self.qemu = subprocess.Popen(args, stdin=subprocess.DEVNULL,
                                     stdout=open(os.path.join(self.dir, "qemu.log"), "w"),
                                     stderr=subprocess.STDOUT)
        self.uart = connect(sock("uart")) if uart else None
        # The adapter is attached only once its wire has someone on it.
        self.ftdi = connect(sock("ftdi")) if ftdi else None
        for wire in (self.uart, self.ftdi):
            if wire:
                wire.setblocking(False)
        self.qmp = connect(sock("qmp")).makefile("rw")
        self.qmp.readline()
        self.qmp_call("qmp_capabilities")
        self.rig_socket = connect(sock("rig"))
        self.rig = self.rig_socket.makefile("rwb")
        self.ready_in = None

    def wait_ready(self, timeout=120):
        self.rig_socket.settimeout(timeout)
        line = self.rig.readline()
        if not line or json.loads(line) != {"ready": True}:
            raise RuntimeError("the guest's agent did not start: %r (see %s/console.log)" % (line, self.dir))
        self.ready_in = time.monotonic() - self.started

    def sh(self, command, timeout=60):
        """Runs a shell command in the guest: (exit status, output bytes)."""
        self.rig_socket.settimeout(timeout + 30)
        self.rig.write(json.dumps({"sh": command, "timeout": timeout}).encode() + b"\n")
        self.rig.flush()
        answer = json.loads(self.rig.readline())
        if answer["err"].strip():
            self.last_error = answer["err"]
        return answer["rc"], base64.b64decode(answer["out"])

    def out(self, command, timeout=60):
        return self.sh(command, timeout)[1].decode("utf-8", "replace").strip()

    def qmp_call(self, execute, **arguments):
        self.qmp.write(json.dumps({"execute": execute, "arguments": arguments}) + "\n")
        self.qmp.flush()
        while True:
            answer = json.loads(self.qmp.readline())
            if "event" not in answer:
                return answer

    def send_uart(self, data):
        # Telnet mode: a data byte 0xFF goes doubled, or it starts a command.
        self._send(self.uart, data.replace(b"\xff", b"\xff\xff"))

    def send_break(self):
        self._send(self.uart, b"\xff\xf3")

    def send_ftdi(self, data):
        self._send(self.ftdi, data)

    def _send(self, wire, data):
        view = memoryview(data)
        while view:
            try:
                view = view[wire.send(view):]
            except BlockingIOError:
                self.drain()
                time.sleep(0.005)
        self.drain()

    def drain(self):
        # The program never transmits; what comes back is the telnet
        # server's negotiation, read only so that nothing blocks.
        for wire in (self.uart, self.ftdi):
            if wire:
                try:
                    while wire.recv(65536):
                        pass
                except (BlockingIOError, InterruptedError):
                    pass

    def trace_mark(self):
        try:
            return os.path.getsize(self.trace_path)
        except OSError:
            return 0

    def trace_since(self, mark):
        with open(self.trace_path, "rb") as trace:
            trace.seek(mark)
            return trace.read().decode("utf-8", "replace")

    def trace_before(self, mark):
        with open(self.trace_path, "rb") as trace:
            return trace.read(mark).decode("utf-8", "replace")

    def stop(self):
        try:
            self.qmp_call("quit")
        except Exception:
            pass
        try:
            self.qemu.wait(10)
        except subprocess.TimeoutExpired:
            self.qemu.kill()
            self.qemu.wait()
