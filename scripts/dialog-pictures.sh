#!/usr/bin/env bash
# Inside a Wine session: the stand-in player opens the plug-in's configuration dialog, takes a
# picture of each of its seven tabs and closes it; the pictures are kept as PNG files.
#
#   dialog-pictures.sh BUILD OUT_DIR
set -euo pipefail
build=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
: >"$work/playlist.txt"
printf 'config %s\\tab\n' "$(winepath -w "$work")" >"$work/script.txt"
wine "$build/bin/player.exe" --plugin "$(winepath -w "$build/bin/gen_skorrel.dll")" \
  --playlist "$(winepath -w "$work/playlist.txt")" --script "$(winepath -w "$work/script.txt")" |
  grep -a '^picture' || true
for tab in 1 2 3 4 5 6 7; do
  python3 scripts/bmp2png.py "$work/tab$tab.bmp" "$out/tab$tab.png"
  echo "$out/tab$tab.png"
done
