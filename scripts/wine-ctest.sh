#!/usr/bin/env bash
# Runs a win32 build's tests under Wine, one at a time: parallel Wine starts trip over each other.
set -euo pipefail
build=${1:?usage: wine-ctest.sh BUILD_DIR [ctest args...]}
shift
exec "$(dirname "$0")/with-wine.sh" ctest --test-dir "$build" -j1 --output-on-failure "$@"
