#!/usr/bin/env bash
# Runs the benchmarks: the native core's, then the window-thread time per track under Wine, then
# the shipped tunnel's speed and the outbox's backlog drained through it under Wine, on every
# Windows build this machine runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
for b in build/native/bench/bench_*; do
  echo "== $(basename "$b")"
  "$b"
done
arch=$(scripts/windows-build.sh --target gen_skorrel standin_tools)
echo "== window-thread time per published track, under Wine ($arch)"
SKORREL_WINE_ARCH=$arch scripts/with-wine.sh bash bench/wine_track_time.sh "build/$arch"
for arch in $(scripts/wine-arch.sh); do
  cmake --preset "$arch" >/dev/null
  cmake --build --preset "$arch" -j "$(nproc)" --target gen_skorrel standin_tools tunnel_bench windows_libs >&2
  SKORREL_WINE_ARCH=$arch scripts/with-wine.sh bash bench/wine_tunnel.sh "build/$arch"
  SKORREL_WINE_ARCH=$arch scripts/with-wine.sh bash bench/wine_outbox_drain.sh "build/$arch"
done
