#!/usr/bin/env bash
# Every benchmark in one go, over both kinds of ICMP socket side by side with
# fping and iputils ping, and a table of the figures (medians of REPS runs)
# with the ratios and targets. Needs root (network namespaces, raw sockets),
# iproute2, fping, iputils-ping.
#
#   sudo bench/run-all.sh              REPS=3 STEADY=20 by default
#   sudo REPS=1 STEADY=10 bench/run-all.sh
#
# Builds the release preset if needed. Nothing leaves the machine: the loopback
# benchmarks run in network namespaces of their own that have nothing but their
# loopback (127.1.0.0/16 there), the accuracy test between two namespaces
# with test hosts in 198.18.0.0/15 (bench/probe/netns-lab.sh). The full run
# takes about ten minutes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=$repo/build/release
reps=${REPS:-3}
steady=${STEADY:-20}
accuracyCount=${ACCURACY_COUNT:-20}

if [ "$(id -u)" -ne 0 ]; then
  echo "run-all.sh needs root (network namespaces and raw sockets)" >&2
  exit 2
fi
for tool in ip fping ping; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done

(cd "$repo" && cmake --preset release >/dev/null &&
  cmake --build --preset release -j "${JOBS:-2}" --target scale_bench kelvoran-bench-probe \
    kelvoran-testhost bench_window_parts bench_tooltip >/dev/null)

work=$(mktemp -d)
ns="kvb-run-$$"
source "$here/probe/netns-lab.sh"

# Two namespaces with nothing but their loopback. In one, ICMP datagram
# sockets are refused to every group, as net.ipv4.ping_group_range ("1 0")
# refuses them on a stock Debian 12 desktop: there the program probes through
# raw sockets, as root does and as an ordinary user does with the program's
# cap_net_raw. In the other they are allowed, as some distributions allow them,
# and the program takes them.
nsRaw="$ns-raw"
nsDgram="$ns-dgram"
cleanup() {
  lab_down
  ip netns delete "$nsRaw" 2>/dev/null || true
  ip netns delete "$nsDgram" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for n in "$nsRaw" "$nsDgram"; do
  ip netns add "$n"
  ip -n "$n" link set lo up
done
ip netns exec "$nsRaw" sh -c 'echo "1 0" > /proc/sys/net/ipv4/ping_group_range'
ip netns exec "$nsDgram" sh -c 'echo "0 2147483647" > /proc/sys/net/ipv4/ping_group_range'
in_ns() { ip netns exec "$nsRaw" "$@"; }

machine() {
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1); kernel $(uname -r)"
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
}
echo "== machine at the start"
machine | tee "$work/machine-start"

# median FILE KEY: the median of KEY=value over the lines of FILE.
median() {
  tr ' ' '\n' <"$1" | sed -n "s/^$2=//p" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

for ((i = 0; i < 10000; i++)); do echo "127.1.$((i / 256)).$((i % 256))"; done >"$work/hosts"

# fping -C1 -i0 on the 10,000 hosts in a namespace, again and again while
# the program there runs its first round (from its first probes until some
# 16 s after its start): the same kernel under the same load. One line of
# key=value figures, its times binned as the program's rows show them.
fping_alongside() {
  sleep 6
  local until=$((SECONDS + 10))
  while [ "$SECONDS" -lt "$until" ]; do
    ip netns exec "$1" fping -C1 -i0 -q -f "$work/hosts" 2>&1 || true
  done |
    awk -F' : ' 'NF == 2 { if ($2 == "-") { lost++; next } ms = int($2); if (ms == 0) z++; else if (ms == 1) o++; else t++; if ($2 + 0 > worst) worst = $2 + 0 }
      END { printf "fping_0ms=%d fping_1ms=%d fping_2ms_up=%d fping_lost=%d fping_worst_ms=%.3f\n", z, o, t, lost, worst }'
}

echo "== scale: the whole program at 1,000 (raw) and 10,000 loopback hosts (raw and datagram), $reps runs each, $steady s steady; fping alongside at 10,000"
# The kinds take turns, so that a change in the machine's load falls on both.
scale_run() {
  local kind=$1 hosts=$2 namespace=$nsRaw line fping=""
  [ "$kind" = datagram ] && namespace=$nsDgram
  if [ "$hosts" = 10000 ]; then
    fping_alongside "$namespace" >"$work/fping-now" &
    fping=$!
  fi
  line=$(ip netns exec "$namespace" "$build/bench/scale/scale_bench" "$hosts" "$steady" 2>/dev/null | grep '^hosts=' || true)
  if [ -n "$fping" ]; then
    wait "$fping" || true
    line="$line $(cat "$work/fping-now")"
  fi
  echo "$kind ${line:-scale_bench $hosts: no figures}" | tee -a "$work/scale-$kind-$hosts"
}
for ((r = 1; r <= reps; r++)); do
  scale_run raw 1000
  scale_run raw 10000
  scale_run datagram 10000
done

echo "== fping -c1 -q on the same 10,000 addresses ($reps runs at -i 0, one at -i 1, one at its default 10 ms)"
# fping's CPU time (user + system) through bash's own timing, to the
# millisecond: /usr/bin/time rounds to 10 ms, a tenth of what fping spends.
fping_run() {
  local interval=$1 times answered
  times=$(in_ns bash -c 'TIMEFORMAT="%3U %3S %3R"; time fping -c1 -q -i "$1" -f "$2" 2>"$3"' \
    fping-run "$interval" "$work/hosts" "$work/fping.err" 2>&1 || true)
  answered=$(grep -c ' = 1/1/0%' "$work/fping.err" || true)
  echo "$times" | tail -1 | awk -v a="$answered" -v i="$interval" '{
    printf "interval=%s answered=%d cpu_s=%.3f wall_s=%.2f us_per_probe=%.1f\n", i, a, $1 + $2, $3, ($1 + $2) * 1e6 / 10000 }'
}
for ((r = 1; r <= reps; r++)); do fping_run 0 | tee -a "$work/fping-0"; done
fping_run 1 | tee -a "$work/fping-1"
fping_run 10 | tee -a "$work/fping-10"

echo "== probe alone: 10,000 probes to 127.0.0.1 on each socket kind, one after the other and on a thread each (50 at once)"
probe_line() { sed -n "s/^$1 .*CPU \([0-9.]*\) us\/probe.*/\1/p" "$2" | sort -g | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : "-") }'; }
for ((r = 1; r <= reps; r++)); do
  ip netns exec "$nsDgram" "$build/bench/probe/kelvoran-bench-probe" --count 10000 127.0.0.1 |
    tee -a "$work/probe-seq"
  ip netns exec "$nsDgram" "$build/bench/probe/kelvoran-bench-probe" --count 10000 --threads 50 127.0.0.1 |
    tee -a "$work/probe-thr"
done

echo "== the window thread's parts: a tick over 10,000 entries, handing over results, a host's tooltip"
for ((r = 1; r <= reps; r++)); do
  "$build/bench/window/bench_window_parts" | tee -a "$work/window-parts"
  QT_QPA_PLATFORM=offscreen "$build/bench/window/bench_tooltip" 2>/dev/null | tee -a "$work/tooltip"
done

echo "== accuracy: test hosts answering after 1, 20, 150 and 900 ms; ping (iputils) and the probe on each socket kind, $accuracyCount each, 200 ms apart"
lab_up "$build/tools/kelvoran-testhost" 198.18.0.11=delay:1 198.18.0.12=delay:20 \
  198.18.0.13=delay:150 198.18.0.14=delay:900 \
  198.18.0.21=echo 198.18.0.22=echo 198.18.0.23=echo 198.18.0.24=echo
trap cleanup EXIT
# netns-lab.sh allows datagram sockets in the prober's namespace; as root the
# probe can take either kind there.
for host in 11 12 13 14; do
  address=198.18.0.$host
  ip netns exec "$lab_prober" ping -n -c "$accuracyCount" -i 0.2 -W 2 "$address" >"$work/ping-out-$host"
  sed -n 's/.*time=\([0-9.]*\) ms.*/\1/p' "$work/ping-out-$host" | sort -g >"$work/ping-$host"
  for kind in raw datagram; do
    ip netns exec "$lab_prober" "$build/bench/probe/kelvoran-bench-probe" --kind "$kind" \
      --count "$accuracyCount" --interval 200 "$address" | tee "$work/ours-$kind-$host"
  done
done

echo "== a dropping uplink: 4 test hosts behind a queue that drops every request (pfifo limit 0), the whole program on each socket kind, $steady s steady"
# Permanent neighbours, so that the queue alone decides: no address
# resolution that it would drop as well.
hostMac=$(ip -n "$lab_host" -o link show "kvb$$h" | sed -n 's|.*link/ether \([0-9a-f:]*\).*|\1|p')
for host in 2 21 22 23 24; do
  ip -n "$lab_prober" neigh replace "198.18.0.$host" lladdr "$hostMac" dev "kvb$$p" nud permanent
done
tc -n "$lab_prober" qdisc replace dev "kvb$$p" root pfifo limit 0
for kind in raw datagram; do
  range="0 2147483647"
  [ "$kind" = raw ] && range="1 0"
  ip netns exec "$lab_prober" sh -c "echo '$range' > /proc/sys/net/ipv4/ping_group_range"
  line=$(ip netns exec "$lab_prober" "$build/bench/scale/scale_bench" 4 "$steady" 198.18.0.21 2>/dev/null |
    grep '^hosts=' || true)
  echo "$kind ${line:-scale_bench 4: no figures}" | tee "$work/dropping-$kind"
done
tc -n "$lab_prober" qdisc del dev "kvb$$p" root

echo
echo "== machine at the end"
machine | tee "$work/machine-end"

# ---- the table ----
m() { median "$work/scale-$1-$2" "$3"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2fx", a / b }'; }
verdict() { awk -v v="$1" -v t="$2" -v op="$3" 'BEGIN { if (v == "-") print "-"; else if ((op == "<" && v + 0 < t + 0) || (op == "<=" && v + 0 <= t + 0)) print "met"; else print "MISSED" }'; }
row() { printf '| %-46s | %12s | %12s | %14s | %-8s |\n' "$@"; }
# figure, raw 1,000, raw 10,000, datagram 10,000, target, verdict
scale_row() { printf '| %-42s | %9s | %10s | %15s | %12s | %-7s |\n' "$@"; }
# scale_figure LABEL KEY [OP LIMIT]: the target is on raw at 10,000 hosts.
scale_figure() {
  local raw target="" met=""
  raw=$(m raw 10000 "$2")
  if [ $# -ge 4 ]; then
    target="$3 $4"
    met=$(verdict "$raw" "$4" "$3")
  fi
  scale_row "$1" "$(m raw 1000 "$2")" "$raw" "$(m datagram 10000 "$2")" "$target" "$met"
}

fping0=$(median "$work/fping-0" us_per_probe)
fping1=$(median "$work/fping-1" us_per_probe)
fping10=$(median "$work/fping-10" us_per_probe)
oursRaw=$(m raw 10000 us_per_probe)
oursDgram=$(m datagram 10000 us_per_probe)
seqDgram=$(probe_line datagram "$work/probe-seq")
thrDgram=$(probe_line datagram "$work/probe-thr")
seqRaw=$(probe_line raw "$work/probe-seq")
thrRaw=$(probe_line raw "$work/probe-thr")
within3() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-") print "-"; else print (a <= 3 * b) ? "met" : "MISSED" }'; }

echo
echo "Medians of $reps runs; loopback work in namespaces of its own, over raw and datagram ICMP sockets."
echo "Start: $(cat "$work/machine-start" | tr '\n' ' ')"
echo "End:   $(cat "$work/machine-end" | tr '\n' ' ')"
echo
scale_row "figure" "raw 1,000" "raw 10,000" "datagram 10,000" "target (raw)" "verdict"
scale_row "----" "----" "----" "----" "----" "----"
scale_figure "group load, OK to rows shown (ms)" load_ms
scale_figure "load to every row showing a time (ms)" first_all_ms "<" 7000
scale_figure "  load to the first probe's start (ms)" first_start_ms
scale_figure "  ticks that started probes until then" fill_ticks
scale_figure "  probes started per such tick (mean)" fill_starts_per_tick
scale_figure "  most probes started by one tick" fill_max_starts
scale_figure "steady CPU, % of one core" cpu_pct "<=" 4
scale_figure "  results handled per second" probes_per_s
scale_figure "  probes started per tick" steady_starts_per_tick
scale_figure "CPU per handled probe, whole program (us)" us_per_probe
scale_figure "  of it on the window thread (us)" ui_us_per_probe
scale_figure "window thread busy (ms per s)" ui_busy_ms_per_s
scale_figure "  longest single stretch (ms)" ui_longest_ms
scale_figure "  of it in the 100 ms tick (ms per s)" tick_ms_per_s
scale_figure "  tick's CPU time (ms per s)" tick_cpu_ms_per_s
scale_figure "peak memory, resident (MiB)" peak_rss_mib "<" 150
scale_figure "peak threads (sampled every 100 ms)" peak_threads
scale_figure "answers shown as 0 ms, whole run" rtt_0ms
scale_figure "  as 1 ms" rtt_1ms
scale_figure "  as 2 ms or more" rtt_2ms_up "<=" 0
scale_figure "  median round trip (us)" rtt_median_us
scale_figure "  longest round trip (us)" rtt_worst_us
scale_figure "fping -C1 -i0 alongside: 0 ms" fping_0ms
scale_figure "  1 ms" fping_1ms
scale_figure "  2 ms or more" fping_2ms_up
scale_figure "  longest (ms)" fping_worst_ms
scale_figure "kernel receive-queue drops (raw socket)" rx_drops "<=" 0
echo
row "CPU per probe (us), 10,000 loopback addresses" "kelvoran" "reference" "ratio" "verdict"
row "----" "----" "----" "----" "----"
row "program on raw vs program on datagram" "$oursRaw" "$oursDgram" "$(ratio "$oursRaw" "$oursDgram")" \
  "$(awk -v a="$oursRaw" -v b="$oursDgram" 'BEGIN { if (a == "-" || b == "-") print "-"; else print (a <= 1.2 * b) ? "met" : "MISSED" }')"
row "program on raw vs fping -c1 -q -i 0 (burst)" "$oursRaw" "$fping0" "$(ratio "$oursRaw" "$fping0")" "$(within3 "$oursRaw" "$fping0")"
row "program on datagram vs fping -i 0" "$oursDgram" "$fping0" "$(ratio "$oursDgram" "$fping0")" "$(within3 "$oursDgram" "$fping0")"
row "program on raw vs fping -c1 -q -i 1 (paced)" "$oursRaw" "$fping1" "$(ratio "$oursRaw" "$fping1")" "$(within3 "$oursRaw" "$fping1")"
row "program on raw vs fping -c1 -q (default -i 10)" "$oursRaw" "$fping10" "$(ratio "$oursRaw" "$fping10")" "$(within3 "$oursRaw" "$fping10")"
row "probe alone, raw socket, sequential" "$seqRaw" "$fping0" "$(ratio "$seqRaw" "$fping0")" ""
row "probe on a thread each, raw" "$thrRaw" "$fping0" "$(ratio "$thrRaw" "$fping0")" ""
row "probe alone, datagram socket, sequential" "$seqDgram" "$fping0" "$(ratio "$seqDgram" "$fping0")" ""
row "probe on a thread each, datagram" "$thrDgram" "$fping0" "$(ratio "$thrDgram" "$fping0")" ""
row "tick over 10,000 entries, cap stops it (us)" "$(median "$work/window-parts" tick_capped_us)" "" "" ""
row "tick over 10,000 entries, whole walk (us)" "$(median "$work/window-parts" tick_whole_walk_us)" "" "" ""
row "handing over one result, window CPU (us)" "$(median "$work/window-parts" deliver_us_per_result)" "" "" ""
tooltip1=$(median "$work/tooltip" tooltip_shown_us)
tooltip2=$(median "$work/tooltip" tooltip_shown_2x_us)
row "a host's tooltip shown, words and picture (us)" "$tooltip1" "2000" "" "$(verdict "$tooltip1" 2000 "<")"
row "  the same at scale 2 (us)" "$tooltip2" "2000" "" "$(verdict "$tooltip2" 2000 "<")"
echo "fping answered: $(median "$work/fping-0" answered) of 10000 (-i 0), $(median "$work/fping-1" answered) (-i 1), $(median "$work/fping-10" answered) (-i 10)"
echo
row "round trip (us), test host delay" "kelvoran avg" "ping avg" "difference" "verdict"
row "----" "----" "----" "----" "----"
delays=(1 20 150 900)
i=0
for host in 11 12 13 14; do
  # ping prints each time to three figures, its summary to the microsecond.
  pingMedian=$(sed -n 's|^rtt min/avg/max/mdev = [0-9.]*/\([0-9.]*\)/.*|\1|p' "$work/ping-out-$host" |
    awk '{ print int($1 * 1000 + 0.5) }')
  pingMedian=${pingMedian:--}
  pingRange=$(awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo ".." hi }' "$work/ping-$host")
  for kind in raw datagram; do
    ours=$work/ours-$kind-$host
    ourMedian=$(sed -n 's/.*RTT us min [0-9]* median [0-9]* avg \([0-9]*\).*/\1/p' "$ours")
    ourRange=$(sed -n 's/.*RTT ms min \([0-9]*\) median [0-9]* avg [0-9.]* max \([0-9]*\).*/\1..\2/p' "$ours")
    difference=$(awk -v a="${ourMedian:--}" -v b="$pingMedian" 'BEGIN { if (a == "-" || b == "-") print "-"; else printf "%+d", a - b }')
    row "delay:${delays[$i]} $kind (ours ${ourRange:--}, ping $pingRange)" "${ourMedian:--}" "$pingMedian" "$difference" \
      "$(awk -v d="$difference" 'BEGIN { if (d == "-") print "-"; else print (d <= 20 && d >= -20) ? "met" : "MISSED" }')"
  done
  i=$((i + 1))
done
echo "(averages to the microsecond; ranges: ours in whole milliseconds as the row shows them, ping's as it prints them)"
echo
row "behind a dropping uplink, 4 hosts" "raw" "datagram" "target" "verdict"
row "----" "----" "----" "----" "----"
droppingRaw=$(median "$work/dropping-raw" cpu_pct)
droppingDgram=$(median "$work/dropping-datagram" cpu_pct)
row "steady CPU, % of one core" "$droppingRaw" "$droppingDgram" "<= 2" \
  "$(awk -v a="$droppingRaw" -v b="$droppingDgram" 'BEGIN { if (a == "-" || b == "-") print "-"; else print (a <= 2 && b <= 2) ? "met" : "MISSED" }')"
