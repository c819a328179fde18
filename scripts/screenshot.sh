#!/bin/bash
# Retakes docs/screenshot.png: the built program in a real window under Xvfb
# and openbox, showing loopback hosts that answer and test-net hosts
# (198.18.0.0/15) that do not. The program runs in a network namespace of its
# own with nothing but loopback in it, so the test-net probes fail at once and
# nothing can leave the machine.
#
#   sudo scripts/screenshot.sh [build-dir]         # default build/dev
#   sudo scripts/screenshot.sh --cjk [build-dir]   # docs/screenshot-cjk.png
#
# With --cjk the program runs in the zh_TW.BIG5 locale on a group file written
# in Big5, its group name and descriptions in Chinese (the locale comes from
# scripts/setup.sh; a CJK font such as fonts-wqy-microhei must be installed).
#
# Needs root (for the namespace), Xvfb, openbox, xdotool and imagemagick.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cjk=0
if [ "${1:-}" = --cjk ]; then
  cjk=1
  shift
fi
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

if [ "$cjk" = 1 ]; then
  locale=zh_TW.BIG5
  program_env=(LC_ALL=$locale)
  output=docs/screenshot-cjk.png
  group=本機與測試網路
  [ "$(LC_ALL=$locale locale charmap 2>/dev/null)" = BIG5 ] \
    || { echo "screenshot: no $locale locale; scripts/setup.sh makes one" >&2; exit 1; }
  # Written here in UTF-8, read by the program in Big5.
  iconv -f UTF-8 -t BIG5 >"$work/kelvoran.ini" <<EOF
[$group]
127.0.0.1	本機
198.18.0.1	測試網路，無路由
127.0.0.2	第二個回送位址
127.0.0.53	本機名稱解析位址
198.18.0.7	測試網路主機 7
127.1.0.1	範圍主機 1
127.1.0.2	範圍主機 2
EOF
else
  program_env=()
  output=docs/screenshot.png
  group='Loopback and test net'
  cat >"$work/kelvoran.ini" <<EOF
[$group]
127.0.0.1	This machine
198.18.0.1	Test net, no route
127.0.0.2	Second loopback address
127.0.0.53	Local resolver address
198.18.0.7	Test net host 7
127.1.0.1	Range host 1
127.1.0.2	Range host 2
EOF
fi

Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

# The namespace has loopback only: no route to 198.18.0.0/15 or anywhere else.
(cd "$work" && exec env "${program_env[@]}" unshare --net sh -c 'ip link set lo up && exec "$0"' "$program") \
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

# xdotool matches non-ASCII titles unreliably: the window is found by the
# title's ASCII start and chosen by its whole name, which the window system
# has in UTF-8 whatever the program's locale.
main=""
for window in $(xdotool search --name '^kelvoran : '); do
  [ "$(xdotool getwindowname "$window")" = "kelvoran : $group" ] && main=$window && break
done
[ -n "$main" ] || { echo "screenshot: the main window is not there" >&2; exit 1; }
import -frame -window "$main" "$root/$output"
echo "screenshot: wrote $output"
