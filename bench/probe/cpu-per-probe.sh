#!/usr/bin/env bash
# CPU time per probe against loopback, both socket kinds, in a network
# namespace of the benchmark's own. Needs root.
#
#   bench/probe/cpu-per-probe.sh [BUILD_DIR] [COUNT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/release}
count=${2:-5000}
"$build/bench/probe/kelvoran-bench-probe" --netns --count "$count" 127.0.0.1
