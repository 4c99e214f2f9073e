# Sourced by the DLL checks: what a Windows DLL exports and imports, read with objdump.
#   read_pe OBJDUMP DLL          sets $exports (one name a line) and $imports (lower case, sorted)
#   check_imports ALLOWED_REGEX  says which imports are not part of Windows; false if any

read_pe() {
  local dump
  dump=$("$1" -p "$2")
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | tail -n +2 | grep -oE '\] [^ ]+$' | cut -c3- || true)
  imports=$(grep -oE 'DLL Name: .*' <<<"$dump" | cut -c11- | tr 'A-Z' 'a-z' | sort)
}

check_imports() {
  local lib ok=0
  while read -r lib; do
    [[ -z "$lib" ]] && continue
    if ! grep -qE "$1" <<<"$lib"; then
      echo "imports a DLL that is not part of Windows: $lib"
      ok=1
    fi
  done <<<"$imports"
  return $ok
}
