#!/usr/bin/env bash
# Runs the benchmarks of the native build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
for b in build/native/bench/bench_*; do
  echo "== $(basename "$b")"
  "$b"
done
