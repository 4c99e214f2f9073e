#!/usr/bin/env bash
# Runs a command with a private 32-bit WINEPREFIX and a private Xvfb display, made for this run
# only. Nothing Wine started outlives it, whatever the command does.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: with-wine.sh COMMAND [ARGS...]" >&2; exit 2; }

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/skorrel-wine.XXXXXX")
export WINEPREFIX

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# xvfb-run -a picks a free display and stops its server when the command ends. Windows of other
# processes must be findable (DDE, WM_COPYDATA), which the null graphics driver would break.
# Wine is stopped while its display still exists, so nothing of it complains about a lost X server.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wineboot --init >/dev/null 2>&1
  wineserver -w
  status=0
  "$@" || status=$?
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  exit $status
' _ "$@"
