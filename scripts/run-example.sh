#!/usr/bin/env bash
# Builds kelvoran and starts it on the example group file (examples/kelvoran.ini).
#
# With a display (DISPLAY or WAYLAND_DISPLAY set) the program opens its window
# there, in the examples folder, as a user would start it.
#
# Without one (a server, a container, an ssh session) it runs on a virtual X
# display instead: the first example group is chosen and Full log switched on
# with key presses, as a user would; every result-log line is printed here as
# it is written, and a screenshot of the window is saved every few seconds.
# It runs until Ctrl-C, or for DURATION seconds when that is set, and then ends
# everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
# The program alone: the tests and benchmarks are built by scripts/test.sh.
cmake --build --preset release -j "$(nproc)" --target kelvoran
program=$PWD/build/release/kelvoran
examples=$PWD/examples

# ICMP for an ordinary user: datagram sockets where the ping_group_range
# sysctl allows the user's groups, else the raw-socket capability on the file.
if [ "$(id -u)" -ne 0 ]; then
  read -r low high </proc/sys/net/ipv4/ping_group_range
  allowed=no
  for group in $(id -G); do
    if [ "$group" -ge "$low" ] && [ "$group" -le "$high" ]; then allowed=yes; fi
  done
  getcap=$(command -v getcap || echo /sbin/getcap)
  if [ "$allowed" = no ] && ! "$getcap" "$program" 2>/dev/null | grep -q cap_net_raw; then
    echo "Giving $program the raw-socket capability: sudo setcap cap_net_raw+p"
    sudo setcap cap_net_raw+p "$program" || echo "Could not; every host will show N/A."
  fi
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  cd "$examples"
  exec "$program"
fi

# --- No display: a virtual one ----------------------------------------------

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || {
    echo "run-example: no display, and $tool for a virtual one is missing; run scripts/setup.sh" >&2
    exit 1
  }
done
duration=${DURATION:-0}
case $duration in '' | *[!0-9]*)
  echo "run-example: DURATION is a number of seconds, not '$duration'" >&2
  exit 1
  ;;
esac

work=$(mktemp -d /tmp/kelvoran-example.XXXXXX)
cp "$examples/kelvoran.ini" "$work/"
shot=$work/window.png
pids=()
stopping=no
stop_all() {
  [ "$stopping" = yes ] && return
  stopping=yes
  # Last started, first ended: the program before its display. What does
  # not end when asked is ended after 5 seconds.
  local i pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "run-example: stopped; the group file, log and last screenshot stay in $work"
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Xvfb picks a free display number itself and writes it once it takes
# connections; a number chosen here could be taken by another server
# meanwhile. In a session of its own, so that Ctrl-C in the terminal reaches
# this script and not the display, which would end under the program.
# -noreset: without it the server starts afresh whenever its last client
# leaves, as the window search below does before the program connects, and
# refuses a connection made meanwhile.
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  [ -s "$work/display" ] && break
  kill -0 "${pids[0]}" 2>/dev/null || break
  sleep 0.1
done
[ -s "$work/display" ] || {
  echo "run-example: the virtual display did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
}
export DISPLAY=":$(head -1 "$work/display")"
unset WAYLAND_DISPLAY
# Qt keeps a little state in the runtime folder, which a session would make.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

echo "No display: kelvoran runs on the virtual display $DISPLAY, in $work."
echo "A screenshot of its window is saved every 5 seconds to $shot"
if [ "$duration" -gt 0 ]; then
  echo "It runs for $duration seconds; Ctrl-C ends it sooner."
else
  echo "Ctrl-C ends it."
fi

# What the program says on standard error (a missing ICMP permission, say)
# shows here too.
(cd "$work" && exec "$program") >"$work/program.log" 2> >(tee -a "$work/program.log" >&2) &
app=$!
pids+=("$app")

# find_window TITLE: the id of the visible window of that exact title, once it
# is there (up to 30 s).
find_window() {
  local id=''
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1) || true
    [ -n "$id" ] && break
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  echo "$id"
}
# keys WINDOW KEY...: key presses to a window, as typed on its keyboard.
keys() {
  local window=$1
  shift
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool key --delay 150 "$@"
}
gone() {
  echo "run-example: kelvoran ended:" >&2
  cat "$work/program.log" >&2
  exit 1
}

dialog=$(find_window 'Group Select')
[ -n "$dialog" ] || gone
# From OK to the list, the first group, Enter.
keys "$dialog" Tab Tab Down Return
group=$(sed -n 's/^\[\([^]]*\)\].*/\1/p' "$work/kelvoran.ini" | LC_ALL=C sort -f | head -1)
main=$(find_window "kelvoran : $group")
[ -n "$main" ] || gone
# File > Full log: the menu's second entry.
keys "$main" alt+f Down Return
echo "Group \"$group\" chosen, Full log on; the first results come 5 seconds after the load:"

# The log's lines as they are written, from the day's file: a new one after
# midnight.
day='' tail_pid=''
follow_log() {
  local today
  today=$(date +%Y%m%d)
  [ "$today" = "$day" ] && return
  if [ -n "$tail_pid" ]; then
    kill "$tail_pid" 2>/dev/null || true
    wait "$tail_pid" 2>/dev/null || true
  fi
  day=$today
  tail -n +1 -F "$work/kelvoran.$day" 2>/dev/null &
  tail_pid=$!
  pids+=("$tail_pid")
}

started=$SECONDS
while kill -0 "$app" 2>/dev/null; do
  import -window "$main" "$shot.tmp.png" 2>/dev/null && mv "$shot.tmp.png" "$shot"
  for _ in 1 2 3 4 5; do
    follow_log
    if [ "$duration" -gt 0 ] && [ $((SECONDS - started)) -ge "$duration" ]; then
      exit 0
    fi
    sleep 1
  done
done
gone
