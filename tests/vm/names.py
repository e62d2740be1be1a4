"""Prints the accessible name of every object the programs on the
accessibility bus show, one a line: how the rig reads a message box, whose
text neither the clipboard nor xdotool can give. Runs in the guest, with
busctl for the D-Bus calls.
    names.py ACCESSIBILITY_BUS_ADDRESS"""
import json
import subprocess
import sys

address = sys.argv[1]


def busctl(*arguments):
    done = subprocess.run(["busctl", "--address=" + address, "--json=short"] + list(arguments),
                          capture_output=True, text=True, timeout=20)
    return json.loads(done.stdout)["data"] if done.returncode == 0 and done.stdout.strip() else None


seen = set()


def walk(destination, path, depth=0):
    if (destination, path) in seen:
        return
    seen.add((destination, path))
    name = busctl("get-property", destination, path, "org.a11y.atspi.Accessible", "Name")
    if name:
        print(name)
    children = busctl("call", destination, path, "org.a11y.atspi.Accessible", "GetChildren")
    for child_destination, child_path in (children[0] if children else []):
        if depth < 12:
            walk(child_destination, child_path, depth + 1)


for bus_name in busctl("call", "org.freedesktop.DBus", "/", "org.freedesktop.DBus", "ListNames")[0]:
    if bus_name.startswith(":"):
        walk(bus_name, "/org/a11y/atspi/accessible/root")
