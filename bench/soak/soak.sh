#!/usr/bin/env bash
# The soak run: the real program for ten minutes (or SECONDS) with 1,000
# loopback hosts and namespace hosts that flap; prints memory and thread
# samples, the longest-standing in-flight mark and the flaps found in the log
# of each log mode, then PASS or FAIL (exit status 0 or 1). Needs root. A
# sample a second goes to soak-samples.csv (or $SAMPLES).
#
#   bench/soak/soak.sh [SECONDS] [BUILD_DIR] [kelvoran-soak options, e.g. --raw]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seconds=${1:-600}
build=${2:-$here/../../build/release}
if [ ! -x "$build/bench/soak/kelvoran-soak" ]; then
  (cd "$here/../.." && cmake --preset release >/dev/null \
    && cmake --build --preset release -j "${JOBS:-2}" --target kelvoran-soak)
fi
exec "$build/bench/soak/kelvoran-soak" --seconds "$seconds" \
  --samples "${SAMPLES:-soak-samples.csv}" "${@:3}"
