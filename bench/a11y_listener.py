#!/usr/bin/python3
"""Listens on the accessibility bus as a screen reader does, so the program's bridge sends
its events: what a screen-reader user's polling costs. Prints "ready" once registered.

    a11y_listener.py   (run with the program's DBUS_SESSION_BUS_ADDRESS)
"""

import sys

import pyatspi

EVENTS = ["object:text-changed", "object:text-caret-moved", "object:property-change",
          "object:state-changed", "object:children-changed", "object:visible-data-changed"]
count = 0


def heard(_event):
    global count
    count += 1


pyatspi.Registry.registerEventListener(heard, *EVENTS)
print("ready", flush=True)
try:
    pyatspi.Registry.start()
finally:
    print(f"events {count}", file=sys.stderr)
