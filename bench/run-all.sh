#!/usr/bin/env bash
# Every benchmark in one go, side by side with fping and iputils ping, and a
# table of the figures (medians of REPS runs) with the ratios and targets.
# Needs root (network namespaces, raw sockets), iproute2, fping, iputils-ping.
#
#   sudo bench/run-all.sh              REPS=3 STEADY=20 by default
#   sudo REPS=1 STEADY=10 bench/run-all.sh
#
# Builds the release preset if needed. Nothing leaves the machine: the loopback
# benchmarks run in a network namespace of their own that has nothing but its
# loopback (127.1.0.0/16 there), the accuracy test between two namespaces
# with test hosts in 198.18.0.0/15 (bench/probe/netns-lab.sh). The full run
# takes about seven minutes.
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
    kelvoran-testhost bench_window_parts >/dev/null)

work=$(mktemp -d)
ns="kvb-run-$$"
source "$here/probe/netns-lab.sh"
cleanup() {
  lab_down
  ip netns delete "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A namespace with nothing but its loopback. ICMP datagram sockets are allowed
# in it, as systemd's default sysctl settings allow them on a Debian desktop,
# so the program uses the kind it uses there; SOCKETS=raw measures raw sockets.
ip netns add "$ns"
ip -n "$ns" link set lo up
if [ "${SOCKETS:-datagram}" = raw ]; then
  ip netns exec "$ns" sh -c 'echo "1 0" > /proc/sys/net/ipv4/ping_group_range'
else
  ip netns exec "$ns" sh -c 'echo "0 2147483647" > /proc/sys/net/ipv4/ping_group_range'
fi
in_ns() { ip netns exec "$ns" "$@"; }

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

echo "== scale: the whole program at 1,000 and 10,000 loopback hosts, $reps runs each, $steady s steady"
for hosts in 1000 10000; do
  for ((r = 1; r <= reps; r++)); do
    line=$(in_ns "$build/bench/scale/scale_bench" "$hosts" "$steady" 2>/dev/null | grep '^hosts=' || true)
    echo "${line:-scale_bench $hosts: no figures}" | tee -a "$work/scale-$hosts"
  done
done

echo "== fping -c1 -q on the same 10,000 addresses ($reps runs at -i 0, one at -i 1, one at its default 10 ms)"
for ((i = 0; i < 10000; i++)); do echo "127.1.$((i / 256)).$((i % 256))"; done >"$work/hosts"
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

echo "== probe alone: 10,000 probes to 127.0.0.1, one after the other and on a thread each (50 at once)"
probe_line() { sed -n "s/^$1 .*CPU \([0-9.]*\) us\/probe.*/\1/p" "$2" | sort -g | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : "-") }'; }
for ((r = 1; r <= reps; r++)); do
  in_ns "$build/bench/probe/kelvoran-bench-probe" --count 10000 127.0.0.1 | tee -a "$work/probe-seq"
  in_ns "$build/bench/probe/kelvoran-bench-probe" --count 10000 --threads 50 127.0.0.1 |
    tee -a "$work/probe-thr"
done

echo "== the window thread's parts: a tick over 10,000 entries, handing over results"
for ((r = 1; r <= reps; r++)); do
  "$build/bench/window/bench_window_parts" | tee -a "$work/window-parts"
done

echo "== accuracy: test hosts answering after 1, 20, 150 and 900 ms; ping (iputils) and the probe, $accuracyCount each, 200 ms apart"
lab_up "$build/tools/kelvoran-testhost" 198.18.0.11=delay:1 198.18.0.12=delay:20 \
  198.18.0.13=delay:150 198.18.0.14=delay:900
trap cleanup EXIT
# The probe uses what a desktop uses: datagram sockets (netns-lab.sh allows
# them in the prober's namespace).
for host in 11 12 13 14; do
  address=198.18.0.$host
  ip netns exec "$lab_prober" ping -n -c "$accuracyCount" -i 0.2 -W 2 "$address" |
    sed -n 's/.*time=\([0-9.]*\) ms.*/\1/p' | sort -g >"$work/ping-$host"
  ip netns exec "$lab_prober" "$build/bench/probe/kelvoran-bench-probe" --kind datagram \
    --count "$accuracyCount" --interval 200 "$address" | tee "$work/ours-$host"
done

echo
echo "== machine at the end"
machine | tee "$work/machine-end"

# ---- the table ----
m() { median "$work/scale-$1" "$2"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.1fx", a / b }'; }
verdict() { awk -v v="$1" -v t="$2" -v op="$3" 'BEGIN { if (v == "-") print "-"; else if ((op == "<" && v + 0 < t + 0) || (op == "<=" && v + 0 <= t + 0)) print "met"; else print "MISSED" }'; }
row() { printf '| %-46s | %12s | %12s | %14s | %-8s |\n' "$@"; }

fping0=$(median "$work/fping-0" us_per_probe)
fping1=$(median "$work/fping-1" us_per_probe)
fping10=$(median "$work/fping-10" us_per_probe)
ours=$(m 10000 us_per_probe)
seqDgram=$(probe_line datagram "$work/probe-seq")
thrDgram=$(probe_line datagram "$work/probe-thr")
seqRaw=$(probe_line raw "$work/probe-seq")
thrRaw=$(probe_line raw "$work/probe-thr")

echo
echo "Medians of $reps runs; loopback work in a namespace of its own, ${SOCKETS:-datagram} ICMP sockets."
echo "Start: $(cat "$work/machine-start" | tr '\n' ' ')"
echo "End:   $(cat "$work/machine-end" | tr '\n' ' ')"
echo
row "figure" "1,000 hosts" "10,000 hosts" "target (10,000)" "verdict"
row "----" "----" "----" "----" "----"
row "group load, OK to rows shown (ms)" "$(m 1000 load_ms)" "$(m 10000 load_ms)" "" ""
row "load to every row showing a time (ms)" "$(m 1000 first_all_ms)" "$(m 10000 first_all_ms)" "< 7000" "$(verdict "$(m 10000 first_all_ms)" 7000 '<')"
row "  load to the first probe's start (ms)" "$(m 1000 first_start_ms)" "$(m 10000 first_start_ms)" "" ""
row "  ticks that started probes until then" "$(m 1000 fill_ticks)" "$(m 10000 fill_ticks)" "" ""
row "  probes started per such tick (mean)" "$(m 1000 fill_starts_per_tick)" "$(m 10000 fill_starts_per_tick)" "" ""
row "  most probes started by one tick" "$(m 1000 fill_max_starts)" "$(m 10000 fill_max_starts)" "" ""
row "steady CPU, % of one core" "$(m 1000 cpu_pct)" "$(m 10000 cpu_pct)" "< 25" "$(verdict "$(m 10000 cpu_pct)" 25 '<')"
row "  results handled per second" "$(m 1000 probes_per_s)" "$(m 10000 probes_per_s)" "" ""
row "  probes started per tick" "$(m 1000 steady_starts_per_tick)" "$(m 10000 steady_starts_per_tick)" "" ""
row "CPU per handled probe, whole program (us)" "$(m 1000 us_per_probe)" "$ours" "" ""
row "  of it on the window thread (us)" "$(m 1000 ui_us_per_probe)" "$(m 10000 ui_us_per_probe)" "" ""
row "window thread busy (ms per s)" "$(m 1000 ui_busy_ms_per_s)" "$(m 10000 ui_busy_ms_per_s)" "" ""
row "  longest single stretch (ms)" "$(m 1000 ui_longest_ms)" "$(m 10000 ui_longest_ms)" "" ""
row "  of it in the 100 ms tick (ms per s)" "$(m 1000 tick_ms_per_s)" "$(m 10000 tick_ms_per_s)" "" ""
row "  tick's CPU time (ms per s)" "$(m 1000 tick_cpu_ms_per_s)" "$(m 10000 tick_cpu_ms_per_s)" "" ""
row "peak memory, resident (MiB)" "$(m 1000 peak_rss_mib)" "$(m 10000 peak_rss_mib)" "< 150" "$(verdict "$(m 10000 peak_rss_mib)" 150 '<')"
row "peak threads (sampled every 100 ms)" "$(m 1000 peak_threads)" "$(m 10000 peak_threads)" "" ""
echo
row "CPU per probe (us), 10,000 loopback addresses" "kelvoran" "reference" "ratio" "verdict"
row "----" "----" "----" "----" "----"
row "program vs fping -c1 -q -i 0 (burst)" "$ours" "$fping0" "$(ratio "$ours" "$fping0")" "$(awk -v a="$ours" -v b="$fping0" 'BEGIN { print (a <= 3 * b) ? "met" : "MISSED" }')"
row "program vs fping -c1 -q -i 1 (paced)" "$ours" "$fping1" "$(ratio "$ours" "$fping1")" "$(awk -v a="$ours" -v b="$fping1" 'BEGIN { print (a <= 3 * b) ? "met" : "MISSED" }')"
row "program vs fping -c1 -q (default -i 10)" "$ours" "$fping10" "$(ratio "$ours" "$fping10")" "$(awk -v a="$ours" -v b="$fping10" 'BEGIN { print (a <= 3 * b) ? "met" : "MISSED" }')"
row "probe alone, datagram socket, sequential" "$seqDgram" "$fping0" "$(ratio "$seqDgram" "$fping0")" ""
row "probe on a thread each, datagram" "$thrDgram" "$fping0" "$(ratio "$thrDgram" "$fping0")" ""
row "probe alone, raw socket, sequential" "$seqRaw" "$fping0" "$(ratio "$seqRaw" "$fping0")" ""
row "probe on a thread each, raw" "$thrRaw" "$fping0" "$(ratio "$thrRaw" "$fping0")" ""
row "tick over 10,000 entries, cap stops it (us)" "$(median "$work/window-parts" tick_capped_us)" "" "" ""
row "tick over 10,000 entries, whole walk (us)" "$(median "$work/window-parts" tick_whole_walk_us)" "" "" ""
row "handing over one result, window CPU (us)" "$(median "$work/window-parts" deliver_us_per_result)" "" "" ""
echo "fping answered: $(median "$work/fping-0" answered) of 10000 (-i 0), $(median "$work/fping-1" answered) (-i 1), $(median "$work/fping-10" answered) (-i 10)"
echo
row "round trip (ms), test host delay" "kelvoran median" "ping median" "difference" "verdict"
row "----" "----" "----" "----" "----"
delays=(1 20 150 900)
i=0
for host in 11 12 13 14; do
  ourMedian=$(sed -n 's/.*median \([0-9]*\).*/\1/p' "$work/ours-$host")
  ourRange=$(sed -n 's/.*RTT ms min \([0-9]*\) median [0-9]* avg [0-9.]* max \([0-9]*\).*/\1..\2/p' "$work/ours-$host")
  pingMedian=$(awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : "-") }' "$work/ping-$host")
  pingRange=$(awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo ".." hi }' "$work/ping-$host")
  difference=$(awk -v a="${ourMedian:--}" -v b="$pingMedian" 'BEGIN { if (a == "-" || b == "-") print "-"; else printf "%+.3f", a - b }')
  row "delay:${delays[$i]} (ours ${ourRange:--}, ping $pingRange)" "${ourMedian:--}" "$pingMedian" "$difference" \
    "$(awk -v d="$difference" 'BEGIN { if (d == "-") print "-"; else print (d <= 1 && d >= -1) ? "met" : "MISSED" }')"
  i=$((i + 1))
done
echo "(ours: whole milliseconds, truncated; ping: its three decimals)"
