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
# Paths are UTF-8 inside the plug-in and reach Windows in UTF-16: a narrow file or module call reads
# its path in the ANSI code page, which cannot name every folder.
narrow=$("$objdump" -p "$dll" | awk '/DLL Name:/ { on = 1; next } on && /^\t[0-9a-f]+\t/ { print $NF }' |
  grep -xE '(LoadLibrary|LoadLibraryEx|GetModuleFileName|GetModuleHandleEx|CreateFile|GetFileAttributes|GetFileAttributesEx|SetFileAttributes|FindFirstFile|FindFirstFileEx|CopyFile|CopyFileEx|DeleteFile|MoveFile|MoveFileEx|ReplaceFile|CreateDirectory|CreateDirectoryEx|RemoveDirectory|GetFullPathName|GetLongPathName|GetTempPath|GetTempFileName|SearchPath|GetDiskFreeSpace|GetDiskFreeSpaceEx|CreateProcess|GetOpenFileName|GetSaveFileName)A' || true)
# The i686 compiler's own start-up code (crtbegin.o) loads libgcc's DLL by its constant name with
# LoadLibraryA, to find the frame tables of its unwinder; no path of ours reaches it.
case $objdump in *i686*) narrow=$(grep -vx LoadLibraryA <<<"$narrow" || true) ;; esac
if [ -n "$narrow" ]; then
  echo "imports narrow calls that take a path: $(tr '\n' ' ' <<<"$narrow")"
  status=1
fi
# The player loads the 32-bit DLL into every session: kept small, the link dropping what nothing
# reaches. Stripped as the release ships it.
case $objdump in
  *i686*)
    stripped=$(mktemp) && trap 'rm -f "$stripped"' EXIT
    "${objdump%objdump}objcopy" --strip-all "$dll" "$stripped"
    kb=$(($(stat -c %s "$stripped") / 1024))
    echo "stripped size: $kb KB"
    if [ "$kb" -ge 800 ]; then
      echo "the stripped DLL is $kb KB, 800 KB or more"
      status=1
    fi
    ;;
esac
check_imports '^(kernel32|user32|advapi32|crypt32|bcrypt|winhttp|gdi32|comctl32|comdlg32|shell32|ole32|oleaut32|msvcrt|ws2_32)\.dll$' || status=1
echo "exports: $(tr '\n' ' ' <<<"$exports")"
echo "imports: $(tr '\n' ' ' <<<"$imports")"
exit $status
