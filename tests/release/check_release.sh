#!/usr/bin/env bash
# Checks a release folder as a user receives it, without Wine: the checksums, the zip's exact
# contents, what each shipped DLL imports and exports, the version resource against CMake's
# version, the debug link, and that a missing licence stops the release.
#   check_release.sh DIST VERSION
set -euo pipefail
dist=${1:?usage: check_release.sh DIST VERSION} version=${2:?usage: check_release.sh DIST VERSION}
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match dist/"
for file in "skorrel-$version-setup.exe" "skorrel-$version.zip" "gen_skorrel-$version.debug"; do
  grep -q " $file\$" "$dist/SHA256SUMS" || fail "SHA256SUMS does not list $file"
done

expected="libmysql.dll
Plugins/Skorrel/LICENSE.txt
Plugins/Skorrel/build-windows-libs.sh
Plugins/Skorrel/guide.txt
Plugins/Skorrel/libssh2.txt
Plugins/Skorrel/mariadb-connector-c-source.txt
Plugins/Skorrel/mariadb-connector-c.patch
Plugins/Skorrel/mariadb-connector-c.txt
Plugins/Skorrel/openssl.txt
Plugins/Skorrel/mingw-w64.txt
Plugins/Skorrel/nlohmann-json.txt
Plugins/Skorrel/sqlite.txt
Plugins/gen_skorrel.dll
Plugins/libssh2.dll
Plugins/skorrel_sqlite3.dll"
actual=$(zipinfo -1 "$dist/skorrel-$version.zip" | grep -v '/$' | LC_ALL=C sort)
[ "$actual" = "$(LC_ALL=C sort <<<"$expected")" ] || fail "the zip holds:"$'\n'"$actual"
unzip -q "$dist/skorrel-$version.zip" -d "$tmp/zip"
plugins=$tmp/zip/Plugins

objdump=i686-w64-mingw32-objdump
"$repo/tests/wine/check_dll.sh" "$plugins/gen_skorrel.dll" "$objdump" >/dev/null || fail "gen_skorrel.dll's imports or exports"
# shellcheck source=tests/wine/pe_dll.sh
source "$repo/tests/wine/pe_dll.sh"
read_pe "$objdump" "$plugins/gen_skorrel.dll"
[ "$exports" = winampGetGeneralPurposePlugin ] || fail "gen_skorrel.dll exports more than the entry: $exports"
for dll in "$plugins/libssh2.dll" "$tmp/zip/libmysql.dll"; do
  "$repo/tests/wine/check_windows_lib.sh" i686 "$dll" >/dev/null || fail "$(basename "$dll") imports or exports"
done

# The fixed part of the version resource, and the version strings Windows shows.
python3 - "$plugins/gen_skorrel.dll" "$version" <<'EOF' || fail "gen_skorrel.dll's version resource"
import struct, sys
data, version = open(sys.argv[1], "rb").read(), sys.argv[2]
at = data.find(struct.pack("<I", 0xFEEF04BD))
ms, ls = struct.unpack("<II", data[at + 8:at + 16])
fixed = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"
text = data.decode("utf-16-le", "replace") + data[1:].decode("utf-16-le", "replace")
found = {key: f"{key}\0{version}\0" in text or f"{key}\0\0{version}\0" in text
         for key in ("FileVersion", "ProductVersion")}
if at < 0 or fixed != version or not all(found.values()):
    sys.exit(f"version resource: fixed {fixed}, strings {found}, CMake {version}")
EOF

# Stripped, and tied to its debug file: addr2line beside the debug file finds the entry's source.
if "$objdump" -h "$plugins/gen_skorrel.dll" | grep -q '\.debug_info'; then fail "gen_skorrel.dll is not stripped"; fi
cp "$dist/gen_skorrel-$version.debug" "$plugins/"
entry=$(i686-w64-mingw32-nm "$dist/gen_skorrel-$version.debug" | awk '$3 ~ /^_?winampGetGeneralPurposePlugin$/ { print "0x" $1 }')
where=$(i686-w64-mingw32-addr2line -e "$plugins/gen_skorrel.dll" "$entry")
[[ $where == *sampleplugin_win32.cpp:* ]] || fail "the debug link does not lead to the source: $entry -> $where"

# The licence check stops a release whose DLL lacks one of its licence texts.
"$repo/scripts/check-licences.sh" "$tmp/zip" 2>/dev/null || fail "the released files fail the licence check"
rm "$plugins/Skorrel/openssl.txt"
if "$repo/scripts/check-licences.sh" "$tmp/zip" 2>/dev/null; then fail "a missing openssl.txt passes the licence check"; fi

[ $status = 0 ] && echo "release $version: checksums, zip contents, DLL imports and exports, version, debug link, licences: ok"
exit $status
