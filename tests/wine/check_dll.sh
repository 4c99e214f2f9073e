#!/usr/bin/env bash
# The player finds the plug-in by one undecorated export, and the DLL must load on a bare Windows:
# nothing but the system's own DLLs may be imported.
set -euo pipefail
objdump=${2:-i686-w64-mingw32-objdump}
dll=$1
source "$(dirname "$0")/pe_dll.sh"
read_pe "$objdump" "$dll"

status=0
if ! grep -qx 'winampGetGeneralPurposePlugin' <<<"$exports"; then
  echo "winampGetGeneralPurposePlugin is not exported under that name; exports: $exports"
  status=1
fi
check_imports '^(kernel32|user32|advapi32|gdi32|comctl32|comdlg32|shell32|ole32|oleaut32|msvcrt|ws2_32)\.dll$' || status=1
echo "exports: $(tr '\n' ' ' <<<"$exports")"
echo "imports: $(tr '\n' ' ' <<<"$imports")"
exit $status
