#!/bin/bash
# Retakes docs/screenshot.png: the built program in a real window under Xvfb
# and openbox, showing loopback hosts that answer and test-net hosts
# (198.18.0.0/15) that do not. The program runs in a network namespace of its
# own with nothing but loopback in it, so the test-net probes fail at once and
# nothing can leave the machine.
#
#   sudo scripts/screenshot.sh [build-dir]         # default build/dev
#   sudo scripts/screenshot.sh --cjk [build-dir]   # docs/screenshot-cjk.png
#   sudo scripts/screenshot.sh --xwayland [build-dir]  # docs/screenshot-xwayland.png
#   sudo scripts/screenshot.sh --tooltip [build-dir]   # docs/screenshot-tooltip.png
#
# With --cjk the program runs in the zh_TW.BIG5 locale on a group file written
# in Big5, its group name and descriptions in Chinese (the locale comes from
# scripts/setup.sh; a CJK font such as fonts-wqy-microhei must be installed).
#
# With --xwayland the program runs in a Wayland session instead, under
# weston's headless backend with Xwayland and no platform chosen, as it starts
# on a Wayland desktop: its window is on the X display, framed by weston.
#
# With --tooltip the program runs in the prober's namespace of a lab as the
# benchmarks make it (bench/probe/netns-lab.sh): the build's test host answers
# for test-net hosts there, one of them now and then (it answers for 30 s and
# falls silent for 20 s), one through a router's "host unreachable", and
# others fail at once for want of a route. After SHOT_WAIT seconds (180 by
# default) another program's window takes the focus, the mouse rests on the
# flapping host's row, and the picture shows the window with the tooltip: its
# words with the outages, its latest results and its day, whose newest bar
# shows the silences' share in red.
#
# SHOT_DISPLAY=N takes the pictures on display :N rather than the first free
# one from :97 on.
#
# Needs root (for the namespace), Xvfb, openbox, xdotool and imagemagick;
# weston and Xwayland for --xwayland.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cjk=0 xwayland=0 tooltip=0
case ${1:-} in
--cjk) cjk=1 && shift ;;
--xwayland) xwayland=1 && shift ;;
--tooltip) tooltip=1 && shift ;;
esac
build=${1:-$root/build/dev}
program=$build/kelvoran
[ -x "$program" ] || { echo "screenshot: no program at $program; build first" >&2; exit 1; }
tools=(xdotool import unshare ip)
if [ "$xwayland" = 1 ]; then tools+=(weston Xwayland); else tools+=(Xvfb openbox); fi
if [ "$tooltip" = 1 ]; then
  tools+=(convert xmessage)
  testhost=$build/tools/kelvoran-testhost
  [ -x "$testhost" ] || { echo "screenshot: no test host at $testhost; build a preset first" >&2; exit 1; }
  # shellcheck source=bench/probe/netns-lab.sh
  . "$root/bench/probe/netns-lab.sh"
fi
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing" >&2; exit 1; }
done

# The first free display from :97 on, or the one SHOT_DISPLAY names.
display=${SHOT_DISPLAY:-97}
if [ -n "${SHOT_DISPLAY:-}" ] && [ -e "/tmp/.X$display-lock" ]; then
  echo "screenshot: display :$display is taken" >&2
  exit 1
fi
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  # First the lab, whose test host would otherwise be waited for to its end.
  if [ "$tooltip" = 1 ]; then lab_down; fi
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
elif [ "$tooltip" = 1 ]; then
  program_env=()
  output=docs/screenshot-tooltip.png
  group='Branch office'
  hosts=(198.18.0.10=echo 198.18.0.13=flap:30000:20000 198.18.0.11=delay:38
    198.18.0.17=unreach:1:198.18.0.2 198.18.0.20=exceeded:198.18.0.2 198.18.0.12=silent)
  cat >"$work/kelvoran.ini" <<EOF
[$group]
127.0.0.1	This machine
198.18.0.10	Branch router
198.18.0.13	Radio link, roof
198.18.0.17	Print server, second floor
198.18.0.11	File server
198.18.0.20	Camera, yard
198.18.0.12	Old switch
198.18.1.7	Test net, no route
EOF
else
  program_env=()
  output=docs/screenshot.png
  [ "$xwayland" = 1 ] && output=docs/screenshot-xwayland.png
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

if [ "$xwayland" = 1 ]; then
  # The display the program would find in a Wayland desktop session.
  mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix
  mkdir -m 700 "$work/runtime"
  export XDG_RUNTIME_DIR=$work/runtime XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=screenshot-$$
  weston --backend=headless-backend.so --xwayland --idle-time=0 --width=800 --height=500 \
    --socket="$WAYLAND_DISPLAY" --log="$work/weston.log" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    display=$(sed -n 's/.*xserver listening on display :\([0-9]*\).*/\1/p' "$work/weston.log" 2>/dev/null) || true
    [ -n "$display" ] && break
    sleep 0.1
  done
  [ -n "$display" ] || { echo "screenshot: weston did not start with Xwayland" >&2; exit 1; }
  unset QT_QPA_PLATFORM
  # Weston keeps the keyboard focus to itself: keys go to the window directly.
  keys() { xdotool key --window "$1" --delay 150 "${@:2}"; }
else
  Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  pids+=($!)
  keys() { xdotool windowactivate --sync "$1" key --delay 150 "${@:2}"; }
fi
export DISPLAY=":$display"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
if [ "$xwayland" = 0 ]; then
  openbox >/dev/null 2>&1 &
  pids+=($!)
fi
sleep 1

if [ "$tooltip" = 1 ]; then
  # The prober's namespace reaches 198.18.0.0/24 through the lab's veth and
  # nothing else. The lab sets a trap of its own; ours, which takes the lab
  # down too, is put back.
  lab_up "$testhost" "${hosts[@]}" || { trap cleanup EXIT; exit 1; }
  trap cleanup EXIT
  (cd "$work" && exec ip netns exec "$lab_prober" "$program") >"$work/program.log" 2>&1 &
else
  # The namespace has loopback only: no route to 198.18.0.0/15 or anywhere else.
  (cd "$work" && exec env "${program_env[@]}" unshare --net sh -c 'ip link set lo up && exec "$0"' "$program") \
    >"$work/program.log" 2>&1 &
fi
pids+=($!)

dialog=""
for _ in $(seq 50); do
  dialog=$(xdotool search --name '^Group Select$' 2>/dev/null | head -1) && [ -n "$dialog" ] && break
  sleep 0.2
done
[ -n "$dialog" ] || { echo "screenshot: the Group Select dialog did not open" >&2; cat "$work/program.log" >&2; exit 1; }
# The only group, by keyboard: from OK to the list, the first name, Enter.
keys "$dialog" Tab Tab Down Return 2>/dev/null || true
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
if [ "$tooltip" = 1 ]; then
  # Some minutes of results, then another program active, as the monitor is
  # used, the mouse on the third row (the flapping host), below the menu and
  # the header, and time for the tooltip to come up. The picture is the screen
  # around the window, its black background trimmed away.
  sleep "${SHOT_WAIT:-180}"
  eval "$(xdotool getwindowgeometry --shell "$main")"
  xmessage -geometry "+$((X + WIDTH + 20))+$Y" "Another program, active" &
  pids+=($!)
  other=""
  for _ in $(seq 50); do
    other=$(xdotool search --name '^xmessage$' 2>/dev/null | head -1) && [ -n "$other" ] && break
    sleep 0.1
  done
  [ -n "$other" ] && xdotool windowactivate --sync "$other"
  xdotool mousemove $((X + 60)) $((Y + 66))
  sleep 0.3
  xdotool mousemove $((X + 62)) $((Y + 67))
  sleep 2
  import -window root -crop "$((WIDTH + 320))x$((HEIGHT + 320))+$((X - 10))+$((Y - 40))" "$work/screen.png"
  convert "$work/screen.png" +repage -trim +repage "$root/$output"
else
  import -frame -window "$main" "$root/$output"
fi
echo "screenshot: wrote $output"
