#!/usr/bin/env bash
# The main job: the stand-in player plays the demo playlist under Wine with the real
# gen_skorrel.dll loaded, and prints what it observed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target gen_skorrel standin_tools
exec scripts/with-wine.sh bash scripts/demo-run.sh
