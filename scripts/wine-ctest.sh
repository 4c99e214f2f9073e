#!/usr/bin/env bash
# Runs a win32 build's tests under Wine: a private WINEPREFIX and a private Xvfb display for this
# run only, one wineboot, ctest one test at a time. Nothing Wine started outlives the run.
set -euo pipefail
build=${1:?usage: wine-ctest.sh BUILD_DIR [ctest args...]}
shift

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/skorrel-wine.XXXXXX")
export WINEPREFIX

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# xvfb-run -a picks a free display and stops its server when the command ends.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -e
  wineboot --init >/dev/null 2>&1
  wineserver -w
  ctest --test-dir "$1" -j1 --output-on-failure "${@:2}"
' _ "$build" "$@"
