#!/usr/bin/env bash
# Builds kelvoran and runs every test: the debug build, then the
# AddressSanitizer + UndefinedBehaviorSanitizer build and the ThreadSanitizer
# build; then the install test and a minute of each fuzz target. No display is
# needed (tests use Qt's offscreen platform). Tests that create network
# namespaces need root; without it they say so and skip.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
presets=${PRESETS:-dev asan tsan}
for preset in $presets; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
bash scripts/install-test.sh
bash scripts/fuzz.sh
