#!/usr/bin/env python3
"""A simulated device for trying linewatch: a temperature and humidity sensor
on the far end of a pseudo-terminal, sending at the pace of 9600 baud.

It prints the path of the line (the pseudo-terminal's slave side) on its first
line of output, then speaks until it is stopped or the other side goes away.
"""

import math
import os
import pty
import random
import sys
import time
import tty

Baud = 9600
SecondsPerByte = 10 / Baud  # 8 data bits plus start and stop bit


def send(master, data):
    """Writes at line speed, so the text arrives as it would from a device."""
    for byte in data:
        os.write(master, bytes([byte]))
        time.sleep(SecondsPerByte)


def main():
    master, slave = pty.openpty()
    tty.setraw(master)
    print(os.ttyname(slave), flush=True)

    sendLine = lambda text: send(master, text.encode("ascii") + b"\r\n")
    random.seed()
    started = time.monotonic()
    reading = 0
    try:
        sendLine("SENSOR v2.1 ready")
        while True:
            elapsed = time.monotonic() - started
            temperature = 21.0 + 1.5 * math.sin(elapsed / 20) + random.uniform(-0.1, 0.1)
            humidity = 40 + 5 * math.cos(elapsed / 30) + random.uniform(-0.5, 0.5)
            reading += 1
            sendLine(f"#{reading:05d}  T={temperature:5.2f} C  RH={humidity:4.1f} %")
            if reading % 10 == 0:
                # Now and then a burst: the sensor dumps its min/max log.
                for slot in range(4):
                    sendLine(f"  log[{slot}] min={temperature - 1.2:5.2f} max={temperature + 0.9:5.2f}")
            time.sleep(0.5)
    except (OSError, KeyboardInterrupt):
        pass  # the line went away or we were told to stop
    finally:
        os.close(master)
        os.close(slave)


if __name__ == "__main__":
    sys.exit(main())
