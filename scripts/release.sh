#!/usr/bin/env bash
# Makes the release a Windows user installs, from the win32 build, in dist/:
#   skorrel-VERSION-setup.exe    the installer (release/skorrel.nsi)
#   skorrel-VERSION.zip          the same files laid out as in the player's folder, to copy by hand
#   gen_skorrel-VERSION.debug    the DLL's debug information, which its debug link names; not
#                                installed, kept to read crash addresses
#   SHA256SUMS
# VERSION is CMake's project version.
#
#   release.sh                   the release, into dist/
#   release.sh win64 DIR         the same from the win64 build, with NSIS's amd64 stub, into DIR:
#                                only for the installer tests where 32-bit code cannot run
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
repo=$PWD

preset=${1:-win32}
case $preset in
  win32) triple=i686-w64-mingw32 target=x86-unicode out=${2:-dist} ;;
  win64) triple=x86_64-w64-mingw32 target=amd64-unicode out=${2:?release.sh win64 needs an output folder} ;;
  *) echo "usage: release.sh [win32 [DIR] | win64 DIR]" >&2; exit 2 ;;
esac
build=$repo/build/$preset
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target gen_skorrel skorrel_sqlite3_dll windows_libs >&2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "release: no project version in $build/CMakeCache.txt" >&2; exit 1; }

work=$build/release
stage=$work/stage
docs=$stage/Plugins/Skorrel
rm -rf "$work"
mkdir -p "$docs"
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out"/skorrel-*-setup.exe "$out"/skorrel-*.zip "$out"/gen_skorrel-*.debug "$out/SHA256SUMS"

# The DLL without its debug information, which goes into a file of its own; the debug link (its
# name and checksum) lets gdb and addr2line find it beside the DLL.
debug=gen_skorrel-$version.debug
"$triple-objcopy" --only-keep-debug "$build/bin/gen_skorrel.dll" "$work/$debug"
(cd "$work" && "$triple-objcopy" --strip-all --add-gnu-debuglink="$debug" \
  "$build/bin/gen_skorrel.dll" "$stage/Plugins/gen_skorrel.dll")
# The outside libraries exactly as their build checked them.
cp "$build/windows-libs/libssh2.dll" "$stage/Plugins/libssh2.dll"
# SQLite, the outbox's store, in its own DLL beside the plug-in.
"$triple-objcopy" --strip-all "$build/bin/skorrel_sqlite3.dll" "$stage/Plugins/skorrel_sqlite3.dll"
cp "$build/windows-libs/libmysql.dll" "$stage/libmysql.dll"

# Text for Notepad: CRLF line ends.
crlf() { sed 's/\r*$/\r/' "$1" >"$docs/$2"; }
crlf docs/user-guide.md guide.txt
crlf LICENSE LICENSE.txt
# The outside libraries' licences, as their build kept them beside each DLL.
libs=$build/windows-libs
crlf "$libs/libssh2.txt" libssh2.txt
crlf "$libs/openssl.txt" openssl.txt
crlf "$libs/mariadb-connector-c.txt" mariadb-connector-c.txt
crlf /usr/share/doc/mingw-w64-common/copyright mingw-w64.txt
# nlohmann/json is compiled into gen_skorrel.dll (MIT, "Expat" in Debian's words).
crlf /usr/share/doc/nlohmann-json3-dev/copyright nlohmann-json.txt
# SQLite, from the amalgamation this build compiled (public domain).
sqlite=$build/sqlite
sqlite_version=$(sed -n 's/^#define SQLITE_VERSION  *"\(.*\)"$/\1/p' "$sqlite/sqlite3.h")
[ -n "$sqlite_version" ] || { echo "release: no SQLITE_VERSION in $sqlite/sqlite3.h" >&2; exit 1; }
crlf /dev/stdin sqlite.txt <<EOF
skorrel_sqlite3.dll is SQLite $sqlite_version, compiled from its amalgamation as made from
Debian's source package

  $(cat "$sqlite/.debian-origin")

SQLite is in the public domain (https://sqlite.org/copyright.html). Its authors' notice:

$(cat "$sqlite/LICENSE.md")
EOF
# The LGPL's source offer: the patch and the script that build our libmysql.dll, and the Debian
# source package they apply to.
cp scripts/libmariadb.patch "$docs/mariadb-connector-c.patch"
cp scripts/build-windows-libs.sh "$docs/build-windows-libs.sh"
origin=$(cat "$libs/libmysql.origin")
crlf /dev/stdin mariadb-connector-c-source.txt <<EOF
libmysql.dll is MariaDB Connector/C, licensed under the GNU Lesser General Public License 2.1
(mariadb-connector-c.txt). It is built from the libmariadb/ folder of Debian's source package

  $origin

available from any Debian mirror or from https://snapshot.debian.org/package/mariadb/, with
mariadb-connector-c.patch applied, by build-windows-libs.sh (both in this folder). You may
replace libmysql.dll with your own build of Connector/C or with any compatible client library.
EOF
scripts/check-licences.sh "$stage"

# The NSIS script takes the guide and licence files by name, to install and to remove each.
{
  echo '!macro DocFiles OP'
  for file in "$docs"/*; do echo "  !insertmacro \${OP} \"$(basename "$file")\""; done
  echo '!macroend'
} >"$work/docs.nsh"
size_kb=$(du -sk "$stage" | cut -f1)
setup=skorrel-$version-setup.exe
makensis -V2 -WX -DVERSION="$version" -DTARGET="$target" -DSTAGE="$stage" -DDOCS="$work/docs.nsh" \
  -DSIZE_KB="$size_kb" -DOUTFILE="$out/$setup" release/skorrel.nsi >&2

zip=skorrel-$version.zip
(cd "$stage" && zip -q -X -r "$out/$zip" Plugins libmysql.dll)
chmod 644 "$work/$debug"
mv "$work/$debug" "$out/"
(cd "$out" && sha256sum "$setup" "$zip" "$debug" >SHA256SUMS)
