#!/usr/bin/env bash
# Builds kelvoran and starts it on the example group file (examples/kelvoran.ini).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
cd examples
exec ../build/release/kelvoran
