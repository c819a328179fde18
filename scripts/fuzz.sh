#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset: clang, AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS (60) seconds from
# its seeds: the group file readers from the reader tests' group files and the
# example, the reply validation from fuzz/corpus/icmp_reply. New inputs go to a
# scratch folder, so the seeds in the tree stay as they are; a crash leaves its
# input in build/fuzz/artifacts/ and makes the script fail.
#
#   scripts/fuzz.sh [TARGET...]     (default: every target)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
seconds=${FUZZ_SECONDS:-60}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(group_file icmp_reply)

echo "=== fuzz ==="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
status=0
summary=()
seeds() {
  case $1 in
  group_file) echo tests/data/group-files examples ;;
  *) echo "fuzz/corpus/$1" ;;
  esac
}
for target in "${targets[@]}"; do
  binary=build/fuzz/fuzz/fuzz_$target
  scratch=$(mktemp -d)
  log=build/fuzz/fuzz_$target.log
  echo "--- fuzz_$target for $seconds s"
  if "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
      "$scratch" $(seeds "$target") >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 60 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  corpus=$(find "$scratch" -type f | wc -l)
  summary+=("fuzz_$target: $result, ${runs:-?} executions in $seconds s, $corpus new corpus inputs")
  rm -rf "$scratch"
done
printf '%s\n' "${summary[@]}"
exit $status
