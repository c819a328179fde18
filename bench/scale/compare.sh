#!/usr/bin/env bash
# The scale benchmark (scale_bench) of two builds in turns, so that a change
# in the machine's load falls on both: before and after a change, each run in
# a network namespace with nothing but its loopback, probing through raw
# sockets as bench/run-all.sh measures the program. Prints each run's figures,
# prefixed with its build's label, then the medians of the window thread's
# CPU per result and of the whole program's.
#
#   sudo bench/scale/compare.sh BUILD_BEFORE BUILD_AFTER [HOSTS] [STEADY] [RUNS]
#                               10000, 20 and 3 by default
#
# A build is a build folder with bench/scale/scale_bench in it.
set -euo pipefail
before=$1
after=$2
hosts=${3:-10000}
steady=${4:-20}
runs=${5:-3}
[ "$(id -u)" -eq 0 ] || { echo "compare.sh needs root (a network namespace)" >&2; exit 2; }
for build in "$before" "$after"; do
  [ -x "$build/bench/scale/scale_bench" ] || { echo "no scale_bench in $build" >&2; exit 2; }
done

work=$(mktemp -d)
ns=kvb-compare-$$
trap 'ip netns delete "$ns" 2>/dev/null || true; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
ip netns add "$ns"
ip -n "$ns" link set lo up
ip netns exec "$ns" sh -c 'echo "1 0" > /proc/sys/net/ipv4/ping_group_range'

run() {
  local label=$1 build=$2 line
  line=$(ip netns exec "$ns" env QT_QPA_PLATFORM=offscreen "$build/bench/scale/scale_bench" \
    "$hosts" "$steady" 2>/dev/null | grep '^hosts=' || echo "no figures")
  echo "$label $line" | tee -a "$work/$label"
}
for ((r = 1; r <= runs; r++)); do
  run before "$before"
  run after "$after"
done

median() {
  tr ' ' '\n' <"$work/$1" | sed -n "s/^$2=//p" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
for key in ui_us_per_probe us_per_probe ui_busy_ms_per_s first_all_ms; do
  echo "median $key: before $(median before "$key"), after $(median after "$key")"
done
