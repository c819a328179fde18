#!/usr/bin/env bash
# The host list over the accessibility bus that screen readers read: a D-Bus
# session of its own, the accessibility bus in it, a virtual X display (Qt's
# bridge to the bus works on X11, not on the offscreen platform), the
# program with Qt's bridge on, and a reader on the bus (atspi_reader.py).
# Exit status 77 (skipped), with the reason, where the machine lacks a part.
#   accessibility-bus.sh DRIVER
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
launcher=/usr/libexec/at-spi-bus-launcher
# The system's Python, which Debian's python3-pyatspi belongs to.
python=/usr/bin/python3

skip() { echo "skip: $*"; exit 77; }
command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed (dbus)"
[ -x "$launcher" ] || skip "the accessibility bus launcher is not installed (at-spi2-core)"
command -v Xvfb >/dev/null || skip "Xvfb is not installed (xvfb)"
[ -x "$python" ] && "$python" -c 'import pyatspi' 2>/dev/null \
  || skip "pyatspi is not installed (python3-pyatspi)"

if [ "${1:-}" != --in-session ]; then
  work=$(mktemp -d /tmp/kelvoran-atspi.XXXXXX)
  # The display goes last: the accessibility bus's own programs are its
  # clients until their bus has gone.
  trap 'sleep 0.5; kill "$xvfb" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
  # A free display, which Xvfb names once it listens. Without -noreset the
  # server starts afresh each time its last client leaves, and the bus's
  # programs come and go before the program connects: a connection made
  # while it starts afresh is refused.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
    2>"$work/xvfb.err" &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { cat "$work/xvfb.err" >&2; skip "Xvfb did not start"; }
  export DISPLAY=:$(cat "$work/display")
  export XDG_RUNTIME_DIR=$work
  status=0
  dbus-run-session -- "$0" --in-session "$driver" 2>"$work/session.err" || status=$?
  # dbus-daemon asks for more open files than a container may give; it says
  # so on standard error and runs on.
  grep -v 'fd limit' "$work/session.err" >&2 || true
  exit "$status"
fi

driver=$2
"$launcher" --launch-immediately &
launcher_pid=$!
trap 'kill "$launcher_pid" 2>/dev/null || true; wait "$launcher_pid" 2>/dev/null || true' EXIT
# Asked of the session bus, so that the question starts no second launcher.
bus_up() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q 'boolean true'
}
for _ in $(seq 50); do bus_up && break; sleep 0.1; done
bus_up || skip "the accessibility bus did not start"
QT_QPA_PLATFORM=xcb "$python" "$here/atspi_reader.py" "$driver"
