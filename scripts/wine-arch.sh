#!/usr/bin/env bash
# Prints the Windows builds whose tests this machine can run under Wine, preferred first:
# "win32 win64" where 32-bit code runs, "win64" where it does not (some machines run 64-bit user
# code only, and there every i386 program fails with "Exec format error"). Decided by running a
# 32-bit program, not by guessing from the kernel. SKORREL_WINE64=1 forces the 64-bit path.
set -euo pipefail
if [ "${SKORREL_WINE64:-0}" = 1 ]; then
  echo "wine: SKORREL_WINE64=1, so the 64-bit build runs under Wine's 64-bit loader" >&2
  echo win64
elif /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
  echo win32 win64
else
  echo "wine: this machine cannot run 32-bit code, so the 64-bit build runs under Wine's 64-bit loader" >&2
  echo win64
fi
