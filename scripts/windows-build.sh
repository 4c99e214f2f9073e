#!/usr/bin/env bash
# Configures and builds the Windows build that this machine's Wine runs (scripts/wine-arch.sh),
# for the given targets, and prints its name (win32 or win64) for the caller's with-wine.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$(scripts/wine-arch.sh | cut -d' ' -f1)
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" -j "$(nproc)" "$@" >&2
echo "$arch"
