#!/usr/bin/env bash
# Builds every build and runs every test: the native core plain, under ASan/UBSan and under TSan,
# a short run of every fuzz target, then the Windows DLL and its tools under Wine. Both Windows builds are always compiled and the
# 32-bit DLL's exports and imports always checked; the Wine tests run on each build this machine
# can run (scripts/wine-arch.sh). Last, the release is made and its installer tested under Wine.
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

echo "== fuzz targets, a few seconds each"
scripts/fuzz.sh 3

for preset in win32 win64; do
  echo "== $preset (build)"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
echo "== the 32-bit DLL the player loads"
tests/wine/check_dll.sh build/win32/bin/gen_skorrel.dll i686-w64-mingw32-objdump

for arch in $(scripts/wine-arch.sh); do
  echo "== $arch (under Wine)"
  scripts/wine-ctest.sh "build/$arch"
done

echo "== the release (dist/) and its installer"
scripts/release.sh
scripts/test-release.sh
