"""Prints the accessible name of every object the programs on the
accessibility bus show, one a line: how the rig reads a message box, whose
text neither the clipboard nor xdotool can give. Runs in the guest, with
dbus-send (already among the test packages) for the D-Bus calls.
    names.py ACCESSIBILITY_BUS_ADDRESS"""
import re
import subprocess
import sys

address = sys.argv[1]


def call(destination, path, method, *arguments):
    done = subprocess.run(["dbus-send", "--bus=" + address, "--print-reply", "--dest=" + destination,
                           path, method] + list(arguments), capture_output=True, text=True, timeout=20)
    return done.stdout if done.returncode == 0 else ""


seen = set()


def walk(destination, path, depth=0):
    if (destination, path) in seen or depth > 12:
        return
    seen.add((destination, path))
    name = re.search(r'variant\s+string "(.*)"\s*$', call(destination, path, "org.freedesktop.DBus.Properties.Get",
                                                      "string:org.a11y.atspi.Accessible", "string:Name"), re.S)
    if name and name.group(1):
        print(name.group(1))
    children = call(destination, path, "org.a11y.atspi.Accessible.GetChildren")
    for child in re.findall(r'string "([^"]+)"\s+object path "([^"]+)"', children):
        walk(child[0], child[1], depth + 1)


names = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames")
for bus_name in re.findall(r'string "(:[^"]+)"', names):
    walk(bus_name, "/org/a11y/atspi/accessible/root")
