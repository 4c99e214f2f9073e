#!/usr/bin/env bash
# Tests the release that scripts/release.sh made in dist/: without Wine, the files as a user
# receives them (tests/release/check_release.sh); under Wine, the installer
# (tests/wine/installer_test.sh). Where this machine runs 32-bit code that is the real installer
# of dist/ with the win32 build's stand-ins; where it does not, the same script built with NSIS's
# amd64 stub around the win64 build.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
tests/release/check_release.sh dist "$version"

arch=$(scripts/wine-arch.sh | cut -d' ' -f1)
dist=dist target=x86-unicode
if [ "$arch" = win64 ]; then
  dist=build/win64/dist target=amd64-unicode
  scripts/release.sh win64 "$dist"
fi
cmake --build --preset "$arch" -j "$(nproc)" --target standin_tools >&2

# An earlier version to install over: the same script and documents, a lower version, and DLLs
# that are only markers.
work=$PWD/build/$arch/release
rm -rf "$work/earlier"
cp -r "$work/stage" "$work/earlier"
for dll in Plugins/gen_skorrel.dll Plugins/skorrel_sqlite3.dll Plugins/libssh2.dll libmysql.dll; do echo "earlier version" >"$work/earlier/$dll"; done
makensis -V1 -DVERSION=0.9.0 -DTARGET="$target" -DSTAGE="$work/earlier" -DDOCS="$work/docs.nsh" -DSIZE_KB=1 \
  -DOUTFILE="$work/earlier-setup.exe" release/skorrel.nsi >&2

echo "== the installer under Wine ($arch)"
SKORREL_WINE_ARCH=$arch scripts/with-wine.sh tests/wine/installer_test.sh "$dist" "$version" \
  "$work/earlier-setup.exe" "build/$arch"
