#!/usr/bin/env bash
# Builds both builds and runs every test: the native core plain, under ASan/UBSan and under TSan,
# then the win32 DLL and its tools under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
for preset in native native-asan native-tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --test-dir "build/$preset" -j "$jobs" --output-on-failure
done

echo "== win32 (under Wine)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
scripts/wine-ctest.sh build/win32
