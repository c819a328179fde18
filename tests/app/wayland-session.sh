#!/usr/bin/env bash
# The program in a Wayland session, under a real compositor: weston's
# headless backend with Xwayland, and Qt's Wayland plugin installed.
#   1. With Xwayland and no platform chosen, the window is an X11 window (on
#      the Xwayland display) that asks to stay above the others.
#   2. A platform the user chose stands: QT_QPA_PLATFORM=wayland gives no X11
#      window.
#   3. Without Xwayland the program runs as a native Wayland client and says
#      on standard error what does not work there.
#   4. So it does where DISPLAY names an X server that is not there.
# Exit status 77 (skipped) where the machine lacks a part of this.
#   wayland-session.sh PROGRAM
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
recorder=$here/../support/record_wm_state.py
slowdown=${KELVORAN_SLOWDOWN:-1}

skip() { echo "skip: $*"; exit 77; }
for tool in weston Xwayland xdotool; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
# The system's Python, which Debian's python3-xlib belongs to.
python=/usr/bin/python3
[ -x "$python" ] && "$python" -c 'import Xlib.ext.record' 2>/dev/null \
  || skip "python3-xlib is not installed"
compgen -G '/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so' >/dev/null \
  || skip "Qt's Wayland plugin (qt6-wayland) is not installed"

work=$(mktemp -d /tmp/kelvoran-wayland.XXXXXX)
chmod 700 "$work"
pids=()
cleanup() {
  # weston ends the Xwayland it started when it is asked to end, not killed.
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Xwayland's sockets live here; a fresh machine may not have the folder yet.
if [ ! -d /tmp/.X11-unix ]; then mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix; fi
socket=kelvoran-test-$$
XDG_RUNTIME_DIR=$work weston --backend=headless-backend.so --xwayland --idle-time=0 \
  --socket="$socket" --log="$work/weston.log" >/dev/null 2>&1 &
pids+=($!)
display=''
for _ in $(seq 100); do
  display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log" 2>/dev/null | head -1) || true
  [ -n "$display" ] && [ -S "$work/$socket" ] && break
  sleep 0.1
done
[ -n "$display" ] || { cat "$work/weston.log" >&2; skip "weston did not start with Xwayland here"; }
echo "weston: Wayland socket $socket, Xwayland display $display"

printf '[Loopback]\n127.0.0.1\tThis machine\n' >"$work/kelvoran.ini"
# start NAME VARIABLE=VALUE...: the program in the session, with only the given
# display and platform variables; its standard error goes to $work/NAME.err.
start() {
  local name=$1
  shift
  (cd "$work" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    XDG_RUNTIME_DIR="$work" XDG_SESSION_TYPE=wayland "$@" "$program") \
    >/dev/null 2>"$work/$name.err" &
  app=$!
  pids+=("$app")
}
stop_app() {
  kill -KILL "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
}
x_window() { DISPLAY=$display xdotool search --onlyvisible --name '^kelvoran$' 2>/dev/null | head -1 || true; }

# 1. Xwayland there, no platform chosen.
DISPLAY=$display "$python" "$recorder" >"$work/states" 2>"$work/recorder.err" &
pids+=($!)
for _ in $(seq 100); do grep -q recording "$work/states" && break; sleep 0.1; done
start xwayland WAYLAND_DISPLAY="$socket" DISPLAY="$display"
window=''
for _ in $(seq $((200 * slowdown))); do
  window=$(x_window)
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -z "$window" ]; then
  fail "with Xwayland the window is not on the X display $display"
  cat "$work/xwayland.err"
elif grep -q "^$window .*_NET_WM_STATE_ABOVE" "$work/states"; then
  echo "ok: X11 window $window on $display asks to stay above"
else
  fail "X11 window $window never asked to stay above; its _NET_WM_STATE writes:"
  cat "$work/states"
fi
stop_app

# Qt's Wayland client library takes a lock in code that ThreadSanitizer does
# not see, and then reports its release as a mutex misuse; the native Wayland
# runs leave mutex reports out (data races are still reported).
if [ -n "${TSAN_OPTIONS:-}" ]; then
  export TSAN_OPTIONS="$TSAN_OPTIONS:report_mutex_bugs=0"
fi

# wayland_only NAME VARIABLE=VALUE...: the program keeps running and opens no
# X11 window.
wayland_only() {
  local name=$1
  start "$@"
  sleep $((4 * slowdown))
  if ! kill -0 "$app" 2>/dev/null; then
    fail "$name: the program ended"
    cat "$work/$name.err"
  elif [ -n "$(x_window)" ]; then
    fail "$name: an X11 window opened"
  else
    echo "ok: $name: a Wayland window, no X11 window"
  fi
  stop_app
}

# 2. The user's own choice.
wayland_only chosen QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY="$socket" DISPLAY="$display"
grep -q "native Wayland" "$work/chosen.err" && fail "chosen: a notice for a platform the user chose"

# 3. No Xwayland in the session.
wayland_only native WAYLAND_DISPLAY="$socket"
if grep -q "kelvoran: a native Wayland window" "$work/native.err"; then
  echo "ok: native: says what does not work there"
else
  fail "native: no notice on standard error"
  cat "$work/native.err"
fi

# 4. A DISPLAY left over from an X server that is gone.
stale=55
while [ -e "/tmp/.X11-unix/X$stale" ]; do stale=$((stale + 1)); done
wayland_only stale WAYLAND_DISPLAY="$socket" DISPLAY=":$stale"
if grep -q "kelvoran: a native Wayland window (the X display :$stale could not be opened)" \
  "$work/stale.err"; then
  echo "ok: stale: falls back to Wayland and says so"
else
  fail "stale: no notice on standard error"
  cat "$work/stale.err"
fi

[ "$failures" -eq 0 ]
