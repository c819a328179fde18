#!/usr/bin/env bash
# The scale benchmark (scale_bench) as a screen reader's user runs it: the
# whole program at HOSTS loopback hosts on a virtual X display (Qt's bridge
# to the accessibility bus works on X11 only), in turns without assistive
# technology and with Qt's bridge on and a reader attached (listen.py), which
# listens as a screen reader does and hears every announcement. Prints
# scale_bench's figures for each run, prefixed "plain" or "reader", and for
# the reader's runs what it heard while the hosts were loaded: the
# announcements, and the most of them within any 3 s (their bound is one).
# The program runs in a network namespace with nothing but its loopback.
#
#   sudo bench/scale/with-reader.sh [HOSTS] [STEADY_SECONDS] [RUNS]
#                                   10000, 20 and 3 by default
#
# Needs root, Xvfb, dbus-run-session (dbus), at-spi2-core, python3-pyatspi
# and a release build with scale_bench (it builds one if needed).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${BUILD:-$repo/build/release}
hosts=${1:-10000}
steady=${2:-20}
runs=${3:-3}
launcher=/usr/libexec/at-spi-bus-launcher

[ "$(id -u)" -eq 0 ] || { echo "with-reader.sh needs root (a network namespace)" >&2; exit 2; }
for tool in Xvfb dbus-run-session ip; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
[ -x "$launcher" ] || { echo "missing: $launcher (at-spi2-core)" >&2; exit 2; }
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "missing: python3-pyatspi" >&2; exit 2; }
if [ ! -x "$build/bench/scale/scale_bench" ]; then
  (cd "$repo" && cmake --preset release >/dev/null &&
    cmake --build --preset release -j "${JOBS:-2}" --target scale_bench >/dev/null)
fi

work=$(mktemp -d)
ns=kvb-reader-$$
xvfb=""
cleanup() {
  ip netns delete "$ns" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM
# Loopback only; ICMP datagram sockets refused, as on a stock Debian 12, so
# that the program probes through raw sockets as bench/run-all.sh measures it.
ip netns add "$ns"
ip -n "$ns" link set lo up
ip netns exec "$ns" sh -c 'echo "1 0" > /proc/sys/net/ipv4/ping_group_range'

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
export XDG_RUNTIME_DIR=$work
# The session bus on a socket in the file system: a network namespace has
# abstract sockets of its own.
sed 's|<listen>.*</listen>|<listen>unix:dir=/tmp</listen>|' /usr/share/dbus-1/session.conf \
  >"$work/session.conf"

bench() {
  ip netns exec "$ns" env QT_QPA_PLATFORM=xcb "$@" "$build/bench/scale/scale_bench" \
    "$hosts" "$steady" 2>/dev/null | grep '^hosts=' || echo "scale_bench: no figures"
}

# In a D-Bus session of its own: the accessibility bus, the reader, then the
# program; the reader's input ends when the program has.
reader_run() {
  dbus-run-session --config-file="$work/session.conf" -- bash -c '
    set -e
    "$1" --launch-immediately >/dev/null 2>&1 &
    launcher=$!
    rm -f "$2/ears" && mkfifo "$2/ears"
    /usr/bin/python3 "$3/listen.py" <"$2/ears" >"$2/heard" 2>/dev/null &
    exec 7>"$2/ears"
    for _ in $(seq 50); do grep -q listening "$2/heard" 2>/dev/null && break; sleep 0.1; done
    shift 3
    "$@"
    exec 7>&-
    wait "$!" 2>/dev/null || true
    kill "$launcher" 2>/dev/null || true
  ' reader-run "$launcher" "$work" "$here" bench env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    2>"$work/session.err" || echo "the reader's run failed" >&2
  # dbus-daemon asks for more open files than a container may give, says so
  # and runs on.
  grep -v 'fd limit' "$work/session.err" >&2 || true
}
export -f bench
export build hosts steady ns

for ((r = 1; r <= runs; r++)); do
  echo "plain  $(bench env)"
  reader_run >"$work/line"
  echo "reader $(cat "$work/line")"
  sed -n '/^events=/,$p' "$work/heard" | sed 's/^/       /'
done
