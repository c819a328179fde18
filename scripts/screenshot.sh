#!/bin/bash
# Retakes docs/screenshot.png: the built program in a real window under Xvfb
# and openbox, showing loopback hosts that answer and test-net hosts
# (198.18.0.0/15) that do not. The program runs in a network namespace of its
# own with nothing but loopback in it, so the test-net probes fail at once and
# nothing can leave the machine.
#
#   sudo scripts/screenshot.sh [build-dir]   # default build/dev
#
# Needs root (for the namespace), Xvfb, openbox, xdotool and imagemagick.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
program=$build/kelvoran
[ -x "$program" ] || { echo "screenshot: no program at $program; build first" >&2; exit 1; }
for tool in Xvfb openbox xdotool import unshare ip; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing" >&2; exit 1; }
done

display=97
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/kelvoran.ini" <<'EOF'
[Loopback and test net]
127.0.0.1	This machine
198.18.0.1	Test net, no route
127.0.0.2	Second loopback address
127.0.0.53	Local resolver address
198.18.0.7	Test net host 7
127.1.0.1	Range host 1
127.1.0.2	Range host 2
EOF

Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

# The namespace has loopback only: no route to 198.18.0.0/15 or anywhere else.
(cd "$work" && exec unshare --net sh -c 'ip link set lo up && exec "$0"' "$program") \
  >"$work/program.log" 2>&1 &
pids+=($!)

dialog=""
for _ in $(seq 50); do
  dialog=$(xdotool search --name '^Group Select$' 2>/dev/null | head -1) && [ -n "$dialog" ] && break
  sleep 0.2
done
[ -n "$dialog" ] || { echo "screenshot: the Group Select dialog did not open" >&2; cat "$work/program.log" >&2; exit 1; }
# The only group, by keyboard: from OK to the list, the first name, Enter.
xdotool windowactivate --sync "$dialog" key --delay 150 Tab Tab Down Return
# The first probes start 5 s after the load.
sleep 7

main=$(xdotool search --name '^kelvoran : Loopback and test net$' | head -1)
[ -n "$main" ] || { echo "screenshot: the main window is not there" >&2; exit 1; }
import -frame -window "$main" "$root/docs/screenshot.png"
echo "screenshot: wrote docs/screenshot.png"
