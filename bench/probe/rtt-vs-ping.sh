#!/usr/bin/env bash
# Round-trip times of kelvoran's probe against iputils ping, both run in the
# same session against a namespace test host that answers after 150 ms.
# Needs root, iproute2 and iputils-ping; nothing leaves the machine.
#
#   bench/probe/rtt-vs-ping.sh [BUILD_DIR] [COUNT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/release}
count=${2:-20}
source "$here/netns-lab.sh"
lab_up "$build/tools/kelvoran-testhost" 198.18.0.11=delay:150
echo "== ping (iputils), $count echoes, 200 ms apart"
ip netns exec "$lab_prober" ping -n -q -c "$count" -i 0.2 198.18.0.11 | tail -2
echo "== kelvoran probe (whole ms, truncated), $count probes, 200 ms apart"
ip netns exec "$lab_prober" "$build/bench/probe/kelvoran-bench-probe" --count "$count" --interval 200 198.18.0.11
