"""The rig's hands inside the guest: runs the shell commands the host sends
over a virtio port, one JSON line each, and answers each with one JSON line
(exit status, standard output in base64, standard error as text).

It runs in the chroot of the machine's root, so the guest has the host's
own programs (Xvfb, xdotool, the build's linewatch) without an image."""
import base64
import json
import os
import subprocess
import sys
import time


def write_all(port, data):
    while data:
        data = data[os.write(port, data):]


def main():
    port = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
    os.makedirs("/tmp/home", exist_ok=True)
    os.makedirs("/tmp/xdg", mode=0o700, exist_ok=True)
    env = {
        "PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
        "HOME": "/tmp/home",
        "XDG_RUNTIME_DIR": "/tmp/xdg",
        "LANG": "C.UTF-8",
    }
    pending = b""
    write_all(port, b'{"ready": true}\n')
    while True:
        chunk = os.read(port, 65536)
        if not chunk:
            # No host on the other end yet (or it went away): the port
            # reads as closed until one connects.
            time.sleep(0.05)
            continue
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            request = json.loads(line)
            try:
                done = subprocess.run(["/bin/sh", "-c", request["sh"]], capture_output=True, env=env,
                                      timeout=request.get("timeout", 60), stdin=subprocess.DEVNULL)
                answer = {"rc": done.returncode, "out": base64.b64encode(done.stdout).decode(),
                          "err": done.stderr.decode(errors="replace")}
            except subprocess.TimeoutExpired as expired:
                answer = {"rc": -1, "out": base64.b64encode(expired.stdout or b"").decode(),
                          "err": "timed out after %ss" % request.get("timeout", 60)}
            write_all(port, json.dumps(answer).encode() + b"\n")


main()
