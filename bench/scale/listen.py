#!/usr/bin/python3
"""A screen reader's ears on the accessibility bus, for the scale benchmark:
it listens to the events a screen reader listens to (objects, focus,
windows), fetches the words of every notification that shows, as a screen
reader speaks them, and nothing else. When its input ends it prints one line
of key=value figures:
  events          events heard in all
  announcements   notifications shown
  shortest_gap_s  the shortest time between two of them
and then each announcement with its time after the first.
  listen.py < /dev/fd/N      (runs until its standard input ends)
"""
import sys
import time

import pyatspi
from gi.repository import GLib

heard = []  # (time, words)
counts = {"events": 0}


def on_event(event):
    counts["events"] += 1
    if event.type.startswith("object:state-changed:showing") and event.detail1 == 1:
        try:
            if event.source.getRoleName() == "notification":
                heard.append((time.monotonic(), event.source.name))
        except Exception:  # gone already
            pass


def done(*_):
    pyatspi.Registry.stop()
    return False


pyatspi.Registry.registerEventListener(
    on_event, "object:state-changed", "object:property-change", "object:children-changed",
    "object:text-changed", "object:selection-changed", "object:active-descendant-changed",
    "focus:", "window:activate", "window:deactivate", "window:create")
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                  GLib.IOCondition.HUP | GLib.IOCondition.IN, done)
print("listening", flush=True)
pyatspi.Registry.start()

gaps = [later - at for (at, _), (later, _) in zip(heard, heard[1:])]
shortest = f"{min(gaps):.2f}" if gaps else "-"
print(f"events={counts['events']} announcements={len(heard)} shortest_gap_s={shortest}")
for at, words in heard:
    print(f"  +{at - heard[0][0]:5.1f} s  {words}")
