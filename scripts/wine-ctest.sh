#!/usr/bin/env bash
# Runs a Windows build's tests under Wine, one at a time (parallel Wine starts trip over each
# other), under the loader of the build's architecture.
set -euo pipefail
build=${1:?usage: wine-ctest.sh BUILD_DIR [ctest args...]}
shift
arch=win32
grep -q '^SKORREL_MINGW_TARGET:[A-Z]*=x86_64$' "$build/CMakeCache.txt" && arch=win64
SKORREL_WINE_ARCH=$arch exec "$(dirname "$0")/with-wine.sh" ctest --test-dir "$build" -j1 --output-on-failure "$@"
