#!/usr/bin/env bash
# The main job: the stand-in player plays the demo playlist under Wine with the real
# gen_skorrel.dll loaded, and prints what it observed. Where the machine cannot run 32-bit code,
# the same sources built for 64-bit Windows play instead. Then it makes the release in dist/.
#
#   demo.sh                  plays the demo playlist
#   demo.sh --dialog [DIR]   opens the plug-in's configuration dialog instead and saves a picture
#                            of each tab as DIR/tab1.png .. tab7.png (DIR: docs/dialog)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
arch=$(scripts/windows-build.sh --target gen_skorrel standin_tools windows_libs)
if [ "${1:-}" = --dialog ]; then
  SKORREL_WINE_ARCH=$arch exec scripts/with-wine.sh bash scripts/dialog-pictures.sh "build/$arch" "${2:-docs/dialog}"
fi
SKORREL_WINE_ARCH=$arch scripts/with-wine.sh bash scripts/demo-run.sh "build/$arch"

echo
echo "== The release a Windows user installs (scripts/release.sh)"
scripts/release.sh
ls -l dist/
