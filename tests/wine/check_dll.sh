#!/usr/bin/env bash
# The player finds the plug-in by one undecorated export, and the DLL must load on a bare Windows:
# nothing but the system's own DLLs may be imported.
set -euo pipefail
objdump=${2:-i686-w64-mingw32-objdump}
dll=$1
dump=$("$objdump" -p "$dll")

exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | tail -n +2 | grep -oE '\] [^ ]+$' | cut -c3- || true)
imports=$(grep -oE 'DLL Name: .*' <<<"$dump" | cut -c11- | tr 'A-Z' 'a-z' | sort)

status=0
if ! grep -qx 'winampGetGeneralPurposePlugin' <<<"$exports"; then
  echo "winampGetGeneralPurposePlugin is not exported under that name; exports: $exports"
  status=1
fi
allowed='^(kernel32|user32|advapi32|gdi32|comctl32|shell32|ole32|oleaut32|msvcrt|ws2_32)\.dll$'
while read -r lib; do
  [[ -z "$lib" ]] && continue
  if ! grep -qE "$allowed" <<<"$lib"; then
    echo "imports a DLL that is not part of Windows: $lib"
    status=1
  fi
done <<<"$imports"
echo "exports: $(tr '\n' ' ' <<<"$exports")"
echo "imports: $(tr '\n' ' ' <<<"$imports")"
exit $status
