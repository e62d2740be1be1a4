#!/usr/bin/env python3
"""linewatch on real serial drivers: `make test-vm`.

The other tests give the program a pseudo-terminal, which has no baud rate,
no modem lines and cannot be unplugged. Here the build's own linewatch runs
inside a QEMU guest (Debian's kernel, the machine's root over 9p, Xvfb,
clicks from xdotool, the text read back through the clipboard) against the
kernel's 8250 driver on an emulated 16550 and its ftdi_sio driver on an
emulated FT232, and the lines are judged the way the chip sees them: QEMU's
trace of what the driver programs into the device.

Boot 1, a 16550 on ttyS0 and an FT232 on xHCI:
  - port 1 is /dev/ttyS0 (not the adapter), locked while open;
  - Open programs 9600 8N1; DTR and RTS, raised by the kernel at open, are
    lowered together in one write of the modem control register and never
    raised again while open (pulse length printed);
  - all 256 byte values, then 1 MB sent flat out, are shown exactly, one
    character each;
  - a BREAK neither ends nor signals the program and adds at most a NUL;
  - Close and Quit give the chip back the settings it had before (the test
    sets 115200 7E1 first) with both lines low, and remove the lock.
Boot 2, no UART (-serial none), the FT232 only:
  - port 1 is /dev/ttyUSB0, opened as it is; 9600 8N1 and both lines low
    in one SET_MODEM_CTRL request; every byte value and 1 MB shown exactly;
  - unplugged (QMP device_del) while receiving: no busy loop, the text and
    the "Close" caption stay, no lock left; plugged back: reception goes on
    by itself with no line break added, each later byte once, in order;
  - Close while it is away ends the watch; Open after it is back works;
  - with neither device, Open reports 1010 and the program goes on.

Figures (pulse, CPU while unplugged, time to reopen, run time) are printed,
not asserted. A failed case leaves a picture of the guest's screen in
build-vm/bootN/out/, beside QEMU's trace and the guest's console log. The
last line is "N passed, N failed"; the exit status is 1 on any failure.
`run.py 1` or `run.py 2` runs one boot's cases alone; LINEWATCH=PATH tests
another build of the program (inside the project, or outside /tmp, which the
guest has its own of).
"""
import os
import random
import re
import shlex
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from guest import ROOT, Guest  # noqa: E402

PROGRAM = os.environ.get("LINEWATCH", os.path.join(ROOT, "build", "linewatch"))
# Window coordinates: Command1's box, its centre, Quit's centre, a point in Text1.
BUTTON_BOX = (60, 160, 53, 29)
OPEN_BUTTON = (86, 174)
QUIT_BUTTON = (146, 174)
IN_TEXT_BOX = (112, 76)
DTR, RTS = 0x01, 0x02

results = []
figures = []


class Failed(Exception):
    pass


def case(function, screen):
    """Runs one case; a Failed or any other exception fails it, with why,
    and leaves a picture of the guest's screen at that moment."""
    name = function.__name__.replace("_", " ")
    started = time.monotonic()
    try:
        function()
        results.append((name, None))
        print("PASS  %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
    except Exception as failure:  # noqa: BLE001 - every failure is reported, none ends the run
        why = str(failure) if isinstance(failure, Failed) else "%s: %s" % (type(failure).__name__, failure)
        results.append((name, why))
        print("FAIL  %s: %s" % (name, why), flush=True)
        picture = function.__name__ + ".png"
        try:
            if screen.x("import -window root /tmp/out/%s" % picture)[0] == 0:
                print("      screen: %s" % os.path.join(screen.g.dir, "out", picture), flush=True)
        except Exception:  # noqa: BLE001 - a guest that is gone has no screen to show
            pass


def check(condition, why):
    if not condition:
        raise Failed(why)


def figure(text):
    figures.append(text)
    print("      figure: " + text, flush=True)


def wait_until(condition, timeout=15.0, step=0.2):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            return value
        time.sleep(step)


def stamp(line):
    match = re.match(r"\d+@(\d+\.\d+):", line)
    return float(match.group(1)) if match else None


class Screen:
    """Xvfb in the guest and the program in its window, driven as a person would."""

    def __init__(self, guest, accessible=False):
        self.g = guest
        self.env = "DISPLAY=:1 QT_QPA_PLATFORM=xcb"
        self.pid = None
        self.window = None
        self.a11y = None
        self.g.sh("Xvfb :1 -screen 0 640x480x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &")
        check(wait_until(lambda: self.g.sh("test -S /tmp/.X11-unix/X1")[0] == 0, 30), "Xvfb did not start")
        if accessible:
            # A session bus, and the accessibility bus it starts on request,
            # as a desktop has them: the way to read a message box's text.
            session = self.g.out("dbus-daemon --session --fork --print-address=1")
            self.env += " DBUS_SESSION_BUS_ADDRESS=%s QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1" % shlex.quote(session)
            rc, out = self.x("dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus "
                             "org.a11y.Bus.GetAddress")
            check(rc == 0, "the accessibility bus did not start")
            self.a11y = out.decode().strip()

    def x(self, command, timeout=30):
        return self.g.sh("%s %s" % (self.env, command), timeout)

    def start(self):
        rc, out = self.x("sh -c 'echo $$; exec %s' >/tmp/linewatch.log 2>&1 </dev/null & sleep 0.2; "
                         "head -n 1 /tmp/linewatch.log" % shlex.quote(PROGRAM))
        self.pid = int(out.split()[0])
        rc, out = self.x("xdotool search --sync --onlyvisible --name '^Form1$'", 60)
        check(rc == 0 and out.strip(), "no window titled Form1 appeared: " + self.g.out("cat /tmp/linewatch.log"))
        self.window = out.split()[0].decode()
        return self.pid

    def click(self, point, window=None):
        self.x("xdotool mousemove --window %s %d %d click 1" % (window or self.window, point[0], point[1]))

    def key(self, keys, window=None):
        self.x("xdotool key --window %s %s" % (window or self.window, keys))

    def text(self):
        """Text1 as the clipboard gives it, bytes back in Latin-1 (None if it would not come)."""
        self.click(IN_TEXT_BOX)
        self.key("ctrl+a ctrl+c")
        rc, out = self.x("xclip -o -selection clipboard", 60)
        if rc != 0:
            return None
        return out.decode("utf-8").encode("latin-1")

    def text_becomes(self, expected, timeout=30):
        seen = [None]

        def matches():
            seen[0] = self.text()
            return seen[0] == expected
        if wait_until(matches, timeout, 0.5):
            return seen[0]
        raise Failed("Text1 is not what was sent: %s" % describe_difference(seen[0], expected))

    def button(self):
        """A hash of Command1's pixels, to compare captions without reading
        them; taken with the focus and the pointer in Text1, so that only
        the caption can differ."""
        self.click(IN_TEXT_BOX)
        rc, out = self.x("import -window %s png:- | convert png:- -crop %dx%d+%d+%d +repage rgb:- | md5sum"
                         % ((self.window,) + BUTTON_BOX[2:] + BUTTON_BOX[:2]))
        return out.split()[0].decode() if rc == 0 else None

    def message_box(self, timeout=20):
        """What the accessibility bus says of the program while a message
        box is up (every object's name: the box's text among them), then
        the box dismissed; None if no box came."""
        rc, out = self.x("xdotool search --sync --onlyvisible --name '^linewatch$'", timeout)
        if rc != 0 or not out.strip():
            return None
        box = out.split()[0].decode()
        message = self.g.out("python3 %s %s" % (os.path.join(os.path.dirname(os.path.abspath(__file__)), "names.py"),
                                                 shlex.quote(self.a11y)), 120) if self.a11y else ""
        # There is no window manager to give the box the keyboard: the test
        # does, and types as a keyboard would.
        self.x("xdotool windowfocus --sync %s key Return" % box)
        check(wait_until(lambda: self.x("xdotool search --onlyvisible --name '^linewatch$'")[0] != 0, 10),
              "the message box did not go")
        return message

    def alive(self):
        return self.g.sh("test -d /proc/%d && ! grep -q '^State:.*Z' /proc/%d/status" % (self.pid, self.pid))[0] == 0

    def holds(self):
        """The devices the program has open."""
        out = self.g.out("for f in /proc/%d/fd/*; do readlink $f; done" % self.pid)
        return {line for line in out.split() if line.startswith("/dev/tty")}

    def cpu_ticks(self):
        fields = self.g.out("cat /proc/%d/stat" % self.pid).rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])


def describe_difference(seen, expected):
    if seen is None:
        return "the clipboard gave nothing"
    at = next((i for i, (a, b) in enumerate(zip(seen, expected)) if a != b), min(len(seen), len(expected)))
    return "%d characters shown, %d expected, first difference at %d: shown %r, expected %r" % (
        len(seen), len(expected), at, seen[max(0, at - 8):at + 16], expected[max(0, at - 8):at + 16])


def lock_exists(g, device):
    return g.sh("test -e /run/lock/LCK..%s" % device)[0] == 0


def serial_lines(g):
    """ttyS0's modem lines as the kernel keeps them, read without opening the port."""
    out = g.out("grep '^0:' /proc/tty/driver/serial")
    return set(re.findall(r"RTS|DTR", out))


def mcr_writes(trace):
    return [(stamp(line), int(m.group(1), 16)) for line in trace.splitlines()
            if (m := re.search(r"serial_write write addr 0x04 val 0x([0-9a-f]+)", line))]


def uart_parameters(trace):
    return re.findall(r"serial_update_parameters baudrate=(\d+) parity='(.)' data=(\d) stop=(\d)", trace)


def ftdi_controls(trace):
    return [(stamp(line), int(m.group(1), 16), int(m.group(2), 16)) for line in trace.splitlines()
            if (m := re.search(r"usb_serial_handle_control dev \S+ got control 0x([0-9a-f]+), value 0x([0-9a-f]+)",
                               line))]


def check_lowered_together(writes, raised, lowered, lowered_both, device):
    """From the write that raised DTR on, the first change lowers DTR and
    RTS at once, and nothing raises either again."""
    first = next((i for i, w in enumerate(writes) if raised(w)), None)
    check(first is not None, "the kernel's raise of DTR at open is not in the trace: %s" % writes)
    later = writes[first + 1:]
    dtr_low = next((w for w in later if lowered(w)), None)
    check(dtr_low, "DTR was never lowered after the open")
    figure("%s: DTR pulse at open %.3f ms (trace, host time)" % (device, (dtr_low[0] - writes[first][0]) * 1000))
    check(lowered_both(later[0]), "the first change after the open is %#x, not DTR and RTS low together" % later[0][1])
    again = [hex(w[1]) for w in later[1:] if raised(w) or not lowered_both(w)]
    check(not again, "a line was raised again while open: %s" % again)


def check_lines_stay_low(before, trace):
    """The modem control register at the end of `before` and through
    `trace`: no write raises DTR or RTS, and both end low."""
    state = (mcr_writes(before) or [(0, 0)])[-1][1] & (DTR | RTS)
    for _, value in mcr_writes(trace):
        check(not value & (DTR | RTS) & ~state, "a line was raised: modem control %#x after %#x" % (value, state))
        state = value & (DTR | RTS)
    check(state == 0, "the lines were left at modem control %#x" % state)


def breaks_seen(g):
    return int((re.findall(r"brk:(\d+)", g.out("grep '^0:' /proc/tty/driver/serial")) or ["0"])[0])


# --- boot 1: the 16550 is port 1 --------------------------------------------------------------------


def boot1_cases(g, s):
    state = {}

    def uart_is_port_1_and_is_locked_while_open():
        # Settings of its own on the chip first, to be given back at Close.
        rc, _ = g.sh("stty -F /dev/ttyS0 115200 cs7 parenb")
        check(rc == 0, "stty could not set ttyS0 up")
        state["before"] = g.trace_mark()
        s.start()
        check(s.holds() == set(), "the port is open before Open")
        state["blank"] = s.button()
        s.click(OPEN_BUTTON)
        check(wait_until(lambda: "/dev/ttyS0" in s.holds()), "Open did not open /dev/ttyS0: %s" % s.holds())
        check(s.holds() == {"/dev/ttyS0"}, "the program holds %s" % s.holds())
        check(lock_exists(g, "ttyS0"), "no /var/lock/LCK..ttyS0 while open")
        state["opened"] = g.trace_since(state["before"])

    def open_programs_9600_8n1():
        check("opened" in state, "the port never opened")
        settings = uart_parameters(state["opened"])
        check(("9600", "N", "8", "1") in settings, "the chip was never set to 9600 8N1: %s" % settings)
        check(settings[-1] == ("9600", "N", "8", "1"), "the chip ends up at %s" % (settings[-1],))

    def dtr_and_rts_are_lowered_together_at_open_and_stay_low():
        check("opened" in state, "the port never opened")
        time.sleep(1)
        writes = mcr_writes(g.trace_since(state["before"]))
        check_lowered_together(writes, lambda w: w[1] & DTR, lambda w: not w[1] & DTR,
                               lambda w: not w[1] & (DTR | RTS), "16550")
        check(serial_lines(g) == set(), "ttyS0's lines while open: %s" % serial_lines(g))

    def every_byte_value_is_shown_as_one_character():
        check("opened" in state, "the port never opened")
        every = bytes(range(256))
        g.send_uart(every)
        expected = b"Text1\r\n" + every
        shown = wait_until(lambda: s.text(), 20)
        if shown is not None and shown == expected.replace(b"\0", b""):
            raise Failed("every byte but NUL came through: the clipboard dropped U+0000")
        s.text_becomes(expected)
        state["text"] = expected

    def a_megabyte_flat_out_is_shown_exactly():
        check("text" in state, "the text so far is unknown")
        rng = random.Random(1)
        flood = bytes(rng.getrandbits(8) for _ in range(1 << 20))
        started = time.monotonic()
        g.send_uart(flood)
        expected = state["text"] + flood
        s.text_becomes(expected, 180)
        figure("16550: 1 MB taken and shown in %.1f s" % (time.monotonic() - started))
        state["text"] = expected

    def a_break_neither_ends_nor_signals_the_program():
        check("text" in state, "the text so far is unknown")
        # strace sees every signal the program is sent while attached.
        g.sh("strace -qq -e trace=none -e signal=all -p %d -o /tmp/signals >/dev/null 2>&1 & echo $! >/tmp/strace.pid"
             % s.pid)
        check(wait_until(lambda: g.sh("grep -q TracerPid:.[1-9] /proc/%d/status" % s.pid)[0] == 0, 10),
              "strace did not attach")
        breaks = breaks_seen(g)
        g.send_break()
        check(wait_until(lambda: breaks_seen(g) > breaks, 10), "the driver saw no BREAK")
        g.send_uart(b"after the break")
        shown = wait_until(lambda: (t := s.text()) and t.endswith(b"after the break") and t, 20) or None
        g.sh("kill $(cat /tmp/strace.pid); sleep 0.5")
        check(s.alive(), "the program ended at the BREAK")
        signals = g.out("cat /tmp/signals")
        check("SIG" not in signals, "the program was signalled: %s" % signals)
        check(shown in (state["text"] + b"after the break", state["text"] + b"\0after the break"),
              "around the BREAK: %s" % describe_difference(shown, state["text"] + b"after the break"))
        state["text"] = shown

    def chip_is_put_back(mark, after):
        """Since `mark`: the settings the test gave the UART, both lines low, no lock."""
        time.sleep(0.5)
        trace = g.trace_since(mark)
        settings = uart_parameters(trace)
        check(settings and settings[-1] == ("115200", "E", "7", "1"),
              "the chip was left at %s, not 115200 7E1" % (settings[-1:] or "(nothing programmed)"))
        check_lines_stay_low(g.trace_before(mark), trace)
        check(serial_lines(g) == set(), "ttyS0's lines after %s: %s" % (after, serial_lines(g)))
        check(not lock_exists(g, "ttyS0"), "the lock outlived %s" % after)

    def close_gives_the_chip_back_its_settings_with_both_lines_low():
        check("opened" in state, "the port never opened")
        mark = g.trace_mark()
        s.click(OPEN_BUTTON)
        check(wait_until(lambda: not s.holds()), "Close left the port open")
        chip_is_put_back(mark, "Close")
        check(s.button() == state["blank"], "the button does not read Open again")

    def quit_gives_the_chip_back_its_settings_and_ends_the_program():
        check(s.alive(), "the program is not running")
        s.click(OPEN_BUTTON)
        check(wait_until(lambda: "/dev/ttyS0" in s.holds()), "a second Open did not open /dev/ttyS0")
        mark = g.trace_mark()
        s.click(QUIT_BUTTON)
        check(wait_until(lambda: not s.alive(), 20), "Quit did not end the program")
        chip_is_put_back(mark, "Quit")

    for c in (uart_is_port_1_and_is_locked_while_open, open_programs_9600_8n1,
              dtr_and_rts_are_lowered_together_at_open_and_stay_low, every_byte_value_is_shown_as_one_character,
              a_megabyte_flat_out_is_shown_exactly, a_break_neither_ends_nor_signals_the_program,
              close_gives_the_chip_back_its_settings_with_both_lines_low,
              quit_gives_the_chip_back_its_settings_and_ends_the_program):
        case(c, s)


# --- boot 2: no UART; the FT232 is port 1, then goes away ---------------------------------------------


SET_MODEM_CTRL, SET_BAUD_RATE, SET_DATA = 0x4001, 0x4003, 0x4004


def unplug(g):
    answer = g.qmp_call("device_del", id="ftdi0")
    check("error" not in answer, "device_del: %s" % answer)
    check(wait_until(lambda: g.sh("test -e /dev/ttyUSB0")[0] != 0, 20), "/dev/ttyUSB0 did not go away")


def replug(g):
    answer = g.qmp_call("device_add", driver="usb-serial", id="ftdi0", bus="xhci.0", chardev="ftdi")
    check("error" not in answer, "device_add: %s" % answer)
    check(wait_until(lambda: g.sh("test -e /dev/ttyUSB0")[0] == 0, 20, 0.05), "/dev/ttyUSB0 did not come back")
    return time.monotonic()


# Waits, from before the replug, for /dev/ttyUSB0 to appear, then for the program (argv[1]) to hold
# it, and prints the seconds between, to 10 ms.
REOPEN_TIMER = """
import os, sys, time
fds = "/proc/%s/fd" % sys.argv[1]
def holds():
    for fd in os.listdir(fds):
        try:
            if os.readlink(os.path.join(fds, fd)) == "/dev/ttyUSB0":
                return True
        except OSError:
            pass
    return False
if os.path.exists("/dev/ttyUSB0"):
    sys.exit("/dev/ttyUSB0 was there before the timer")
open("/tmp/reopen.ready", "w").close()
while not os.path.exists("/dev/ttyUSB0"):
    time.sleep(0.01)
appeared = time.monotonic()
while not holds() and time.monotonic() - appeared < 10:
    time.sleep(0.01)
print("%.2f" % (time.monotonic() - appeared) if holds() else "never (10)")
"""


def boot2_cases(g, s):
    state = {}
    usb = lambda: "/dev/ttyUSB0" in s.holds()  # noqa: E731

    def adapter_is_port_1_when_there_is_no_uart():
        check(g.out("cat /sys/class/tty/ttyS0/type") == "0", "ttyS0 is not an empty slot")
        check(g.sh("test -e /dev/ttyUSB0")[0] == 0, "ftdi_sio gave no /dev/ttyUSB0")
        state["before"] = g.trace_mark()
        s.start()
        state["blank"] = s.button()
        s.click(OPEN_BUTTON)
        opened = wait_until(usb, 10)
        if not opened:
            raise Failed("Open did not open /dev/ttyUSB0 (it holds %s); it said %r"
                         % (s.holds(), s.message_box(5)))
        check(lock_exists(g, "ttyUSB0"), "no /var/lock/LCK..ttyUSB0 while open")
        state["opened"] = True
        s.text()
        state["close"] = s.button()

    def adapter_gets_9600_8n1_and_both_lines_low_in_one_request():
        check("opened" in state, "the port never opened")
        time.sleep(1)
        controls = ftdi_controls(g.trace_since(state["before"]))
        check(any(c[1:] == (SET_BAUD_RATE, 0x4138) for c in controls), "9600 baud was never set: %s" % controls)
        data = [c for c in controls if c[1] == SET_DATA]
        check(data and data[-1][2] == 0x8, "the data format is %s, not 8N1" % data)
        modem = [(t, v) for t, r, v in controls if r == SET_MODEM_CTRL]
        # SET_MODEM_CTRL's high byte says which lines change, its low byte to what.
        check_lowered_together(modem, lambda w: (w[1] & 0x101) == 0x101, lambda w: (w[1] & 0x101) == 0x100,
                               lambda w: (w[1] & 0x303) == 0x300, "FT232")

    def adapter_shows_every_byte_value_and_a_megabyte_flat_out():
        check("opened" in state, "the port never opened")
        every = bytes(range(256))
        g.send_ftdi(every)
        s.text_becomes(b"Text1\r\n" + every)
        rng = random.Random(2)
        flood = bytes(rng.getrandbits(8) for _ in range(1 << 20))
        started = time.monotonic()
        g.send_ftdi(flood)
        s.text_becomes(b"Text1\r\n" + every + flood, 180)
        figure("FT232: 1 MB taken and shown in %.1f s" % (time.monotonic() - started))
        state["text"] = b"Text1\r\n" + every + flood

    def unplugged_while_receiving_it_keeps_text_and_caption_and_does_not_spin():
        check("text" in state, "the port never received")
        stop = threading.Event()
        sent = bytearray()

        def stream():
            n = 0
            while not stop.is_set():
                chunk = b"%06d " % n
                g.send_ftdi(chunk)
                sent.extend(chunk)
                n += 1
                time.sleep(0.01)
        writer = threading.Thread(target=stream)
        writer.start()
        check(wait_until(lambda: (t := s.text()) and len(t) > len(state["text"]) + 100, 20), "nothing streamed in")
        try:
            unplug(g)
        finally:
            stop.set()
            writer.join()
        state["sent"] = bytes(sent)
        time.sleep(1)
        ticks = s.cpu_ticks()
        time.sleep(3)
        used = (s.cpu_ticks() - ticks) / os.sysconf("SC_CLK_TCK")
        figure("CPU used in 3 s while unplugged: %.2f s" % used)
        check(s.alive(), "the program ended at the unplug")
        check(used < 0.5, "the program used %.2f s of CPU in 3 s with the device gone" % used)
        shown = s.text()
        state["kept"] = shown
        check(shown and shown.startswith(state["text"]), "the text before the unplug was not kept")
        streamed = shown[len(state["text"]):]
        check(streamed and streamed in state["sent"], "what streamed in is not a piece of what was sent")
        check(s.button() == state["close"], "the button no longer reads Close")
        check(state["close"] != state["blank"], "Close and Open captions look alike: the comparison means nothing")
        check(wait_until(lambda: not lock_exists(g, "ttyUSB0"), 5), "LCK..ttyUSB0 left while the device is gone")

    def plugged_back_it_goes_on_by_itself_without_a_line_break():
        check("kept" in state, "the unplug case did not get that far")
        # Timed in the guest, by its own clock: the host's polls through the
        # agent take longer than the thing measured.
        g.sh("rm -f /tmp/reopen.ready; python3 -c %s %d >/tmp/reopen.txt 2>&1 &" % (shlex.quote(REOPEN_TIMER), s.pid))
        wait_until(lambda: g.sh("test -e /tmp/reopen.ready")[0] == 0, 10, 0.05)
        replug(g)
        reopened = wait_until(usb, 10, 0.05)
        timed = wait_until(lambda: g.out("cat /tmp/reopen.txt"), 15)
        figure("FT232: program holds /dev/ttyUSB0 again %s s after it reappeared (guest clock)" % timed)
        check(reopened, "the program did not open /dev/ttyUSB0 again by itself")
        check(wait_until(lambda: lock_exists(g, "ttyUSB0"), 5), "no lock after the reopen")
        time.sleep(1)
        settled = s.text()
        # Bytes that sat in the wire while the adapter was away may come in
        # first: a continuation of the stream, never a line break.
        tail = settled[len(state["kept"]):]
        check(settled.startswith(state["kept"]), "the text changed at the return")
        check(b"\r" not in tail and b"\n" not in tail and tail in state["sent"],
              "added at the return: %r" % tail[:80])
        sent_at = time.monotonic()
        later = b"back again " + bytes(range(32, 127)) * 8
        g.send_ftdi(later)
        first = wait_until(lambda: (t := s.text()) and len(t) > len(settled) and t, 10, 0.1)
        if first:
            figure("FT232: first byte after the return shown within %.2f s of sending" % (time.monotonic() - sent_at))
        s.text_becomes(settled + later)
        check(s.button() == state["close"], "the button no longer reads Close")
        state["text"] = settled + later

    def close_while_away_ends_the_watch_and_open_after_return_works():
        check("opened" in state, "the port never opened")
        if not usb():
            # A watch the last unplug ended is closed first.
            if s.button() != state["blank"]:
                s.click(OPEN_BUTTON)
            s.click(OPEN_BUTTON)
            check(wait_until(usb, 10), "Open did not open /dev/ttyUSB0: %r" % s.message_box(5))
        unplug(g)
        s.click(OPEN_BUTTON)  # "Close" while it is away
        check(wait_until(lambda: s.button() == state["blank"], 10), "the button does not read Open after Close")
        replug(g)
        time.sleep(2)
        check(not usb(), "the program opened the device again after Close")
        text = s.text()
        s.click(OPEN_BUTTON)
        check(wait_until(usb, 10), "Open after the return did not open /dev/ttyUSB0")
        g.send_ftdi(b"reopened")
        s.text_becomes(text + b"\r\nreopened")
        s.click(OPEN_BUTTON)
        check(wait_until(lambda: not usb()), "Close left the port open")

    def with_neither_device_open_reports_1010_and_the_program_goes_on():
        if g.sh("test -e /dev/ttyUSB0")[0] == 0:
            unplug(g)
        check(s.alive(), "the program is not running")
        if s.button() != state["blank"]:
            s.click(OPEN_BUTTON)  # Close, if an earlier case left it open
        s.click(OPEN_BUTTON)
        message = s.message_box()
        check(message is not None, "no message box appeared")
        check(re.search(r"^1010: ", message, re.M), "the box says %r, not 1010" % message)
        check(s.alive(), "the program ended after the box")
        check(s.x("xdotool search --onlyvisible --name '^Form1$'")[0] == 0, "the window went")
        check(s.button() == state["blank"], "the button does not read Open")
        check(not s.holds(), "the program holds %s" % s.holds())

    for c in (adapter_is_port_1_when_there_is_no_uart, adapter_gets_9600_8n1_and_both_lines_low_in_one_request,
              adapter_shows_every_byte_value_and_a_megabyte_flat_out,
              unplugged_while_receiving_it_keeps_text_and_caption_and_does_not_spin,
              plugged_back_it_goes_on_by_itself_without_a_line_break,
              close_while_away_ends_the_watch_and_open_after_return_works,
              with_neither_device_open_reports_1010_and_the_program_goes_on):
        case(c, s)


def boot(name, uart, cases):
    g = Guest(name, uart=uart, ftdi=True)
    try:
        g.wait_ready()
        figure("%s: agent ready %.1f s after QEMU started" % (name, g.ready_in))
        cases(g, Screen(g, accessible=(name == "boot2")))
    except Exception as failure:  # noqa: BLE001
        results.append((name, "the guest failed: %s" % failure))
        print("FAIL  %s: the guest failed: %s" % (name, failure), flush=True)
    finally:
        g.stop()


def main():
    if not os.access(PROGRAM, os.X_OK):
        print("no program at %s: build it first" % PROGRAM)
        return 1
    inside = os.path.realpath(PROGRAM).startswith(os.path.realpath(ROOT) + os.sep)
    if not inside and re.match(r"/(tmp|run|dev|proc|sys)(/|$)", os.path.realpath(PROGRAM)):
        # The guest mounts its own file systems there, over the machine's.
        print("the guest cannot see %s: put the program elsewhere (LINEWATCH=...)" % PROGRAM)
        return 1
    started = time.monotonic()
    # A boot can be picked alone while working on its cases: run.py 2
    picked = sys.argv[1:] or ["1", "2"]
    if "1" in picked:
        boot("boot1", True, boot1_cases)
    if "2" in picked:
        boot("boot2", False, boot2_cases)
    figure("run time %.0f s" % (time.monotonic() - started))
    print("Figures:\n  " + "\n  ".join(figures))
    failed = [r for r in results if r[1]]
    print("%d passed, %d failed" % (len(results) - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
