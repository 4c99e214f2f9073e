#!/usr/bin/env bash
# Inside the demo's Wine session: plays the playlist and shows what the player saw.
set -euo pipefail
bin=$(winepath -w build/win32/bin)
echo "== The player (requests the plug-in made, in order)"
wine build/win32/bin/player.exe --plugin "$bin\\gen_skorrel.dll" \
  --playlist "$(winepath -w tools/demo/playlist.txt)" --script "$(winepath -w tools/demo/script.txt)" | tr -d '\r'
