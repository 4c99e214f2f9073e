#!/usr/bin/env bash
# Runs a command with a private WINEPREFIX and a private Xvfb display, made for this run only.
# Nothing Wine started outlives it, whatever the command does.
#
# SKORREL_WINE_ARCH picks the loader: win32 (the product's architecture) or win64; unset, the
# first that scripts/wine-arch.sh offers. The command finds that loader first on PATH as wine,
# wineserver, wineboot and winepath, so scripts and ctest's emulator just say "wine".
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: with-wine.sh COMMAND [ARGS...]" >&2; exit 2; }
arch=${SKORREL_WINE_ARCH:-$("$(dirname "$0")/wine-arch.sh" | cut -d' ' -f1)}

work=$(mktemp -d "${TMPDIR:-/tmp}/skorrel-wine.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case $arch in
  win32) export WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32 ;;
  win64) export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64 ;;
  *) echo "with-wine.sh: unknown SKORREL_WINE_ARCH '$arch' (win32 or win64)" >&2; exit 2 ;;
esac
mkdir "$work/bin"
printf '#!/bin/sh\nexec "%s" "$@"\n' "$WINELOADER" >"$work/bin/wine"
printf '#!/bin/sh\nexec "%s" "$@"\n' "$WINESERVER" >"$work/bin/wineserver"
for tool in wineboot winepath; do
  printf '#!/bin/sh\nexec "%s" %s.exe "$@"\n' "$WINELOADER" "$tool" >"$work/bin/$tool"
done
chmod +x "$work/bin/"*
export PATH=$work/bin:$PATH

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$work"
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
