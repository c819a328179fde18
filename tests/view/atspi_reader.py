#!/usr/bin/python3
"""A reader on the accessibility bus, as a screen reader is one: it starts the
accessibility driver (accessibility_driver), reads the host list through the
bus and listens to what the program announces, and checks:
  1. the list's name, and every row's description as the program makes it;
  2. one host falling silent gives one announcement, naming it;
  3. a hundred hosts falling silent at once give one announcement, a count,
     and few events in all.
Run inside a D-Bus session with the accessibility bus running.
Prints what it heard; exit status 0 when all holds, 1 otherwise.
  atspi_reader.py DRIVER
"""
import os
import queue
import subprocess
import sys
import threading
import time

import pyatspi
from gi.repository import GLib

SLOWDOWN = int(os.environ.get("KELVORAN_SLOWDOWN", "1"))

failures = []
events = []  # (type, detail1, role, name), as they came


def check(ok, what):
    print(("ok: " if ok else "FAIL: ") + what, flush=True)
    if not ok:
        failures.append(what)


def on_event(event):
    try:
        role, name = event.source.getRoleName(), event.source.name
    except Exception:  # gone already
        role, name = "?", ""
    events.append((event.type, event.detail1, role, name))


def announcements():
    return [name for (kind, detail1, role, name) in events
            if kind == "object:state-changed:showing" and detail1 == 1
            and role == "notification"]


driver = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          text=True, bufsize=1)
lines = queue.Queue()
threading.Thread(target=lambda: [lines.put(line.rstrip("\n")) for line in driver.stdout],
                 daemon=True).start()


def answer(command, seconds=30):
    """Sends a command; yields to the main loop until the driver is done.
    Returns the lines it printed before "done"."""
    if command is not None:
        driver.stdin.write(command + "\n")
        driver.stdin.flush()
    printed = []
    deadline = time.monotonic() + seconds * SLOWDOWN
    while True:
        try:
            line = lines.get_nowait()
        except queue.Empty:
            if time.monotonic() > deadline or driver.poll() is not None:
                raise RuntimeError(f"no answer to {command!r}")
            yield
            continue
        if line in ("done", "ready"):
            return printed
        printed.append(line)


def settle(seconds=1.0):
    """Lets the events already sent reach this reader."""
    deadline = time.monotonic() + seconds * SLOWDOWN
    while time.monotonic() < deadline:
        yield


def find(accessible, role):
    if accessible.getRoleName() == role:
        return accessible
    for i in range(accessible.childCount):
        found = find(accessible.getChildAtIndex(i), role)
        if found is not None:
            return found
    return None


def the_list():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == driver.pid:
            return find(app, "tree")
    return None


def scenario():
    yield from answer(None)  # ready: the rows show
    yield from answer("round")  # the first results
    yield from settle()
    heard = announcements()
    print(f"heard on loading: {heard}", flush=True)
    check(heard == ["101 hosts answering"], "the load's first results: one announcement, a count")

    hosts = the_list()
    check(hosts is not None, "the host list is on the bus")
    if hosts is None:
        return
    check(hosts.name == "Hosts of group Bus", f"the list's name: {hosts.name!r}")
    expected = {}
    for line in (yield from answer("descriptions")):
        _, row, text = line.split(" ", 2)
        expected[int(row)] = text.replace("\\n", "\n")
    table = hosts.queryTable()
    arrived = [table.getAccessibleAt(row, 1).description for row in range(table.nRows)]
    check(len(arrived) == 101 and all(arrived[r] == expected.get(r) for r in range(len(arrived))),
          f"every row's description arrives as the program makes it ({len(arrived)} rows)")
    print(f"row 0: {table.getAccessibleAt(0, 1).name}: {arrived[0]!r}", flush=True)

    events.clear()
    yield from answer("silence 127.0.1.1")
    yield from answer("round")
    yield from settle()
    heard = announcements()
    print(f"heard when 127.0.1.1 fell silent: {heard}", flush=True)
    check(heard == ["127.0.1.1 N/A, request timed out"],
          "one host falling silent: one announcement naming it")

    events.clear()
    yield from answer("silence-rest")
    yield from answer("round")
    yield from settle()
    heard = announcements()
    print(f"heard when 100 hosts fell silent at once: {heard}; {len(events)} events in all",
          flush=True)
    check(heard == ["100 hosts N/A"], "a hundred hosts falling silent: one announcement, a count")
    check(len(events) <= 4, f"events in all: {len(events)}")


def run():
    steps = scenario()

    def step():
        try:
            next(steps)
            return True
        except StopIteration:
            pass
        except Exception as error:  # a step that could not be taken
            check(False, str(error))
        pyatspi.Registry.stop()
        return False

    GLib.timeout_add(20, step)
    pyatspi.Registry.start()


# What a reader of notifications listens to, and no more: were it to hear of
# name changes, it would keep names that it would otherwise have to fetch.
pyatspi.Registry.registerEventListener(on_event, "object:state-changed:showing",
                                       "object:children-changed")
try:
    run()
finally:
    driver.stdin.close()
    try:
        status = driver.wait(timeout=10 * SLOWDOWN)
    except subprocess.TimeoutExpired:
        driver.kill()
        status = "none: it did not end"
check(status == 0, f"the program's exit status: {status}")
sys.exit(1 if failures else 0)
