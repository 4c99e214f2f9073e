#!/usr/bin/env bash
# Inside the demo's Wine session: the stand-in messenger, mIRC and log dispatcher run beside the
# stand-in player, all writing to this terminal as things happen, so each track's lines follow
# the player's action that caused them.
set -euo pipefail
bin=build/win32/bin
records=$(mktemp -d)
trap 'rm -rf "$records"' EXIT
win() { winepath -w "$1"; }

key='HKCU\Software\Brenwick\Winamp Plugins\Skorrel\Global'
wine reg add "$key" /v CSDebug /t REG_SZ /d viewer.example /f >/dev/null 2>&1

wine "$bin/messenger_standin.exe" "$(win "$records/msn.txt")" MSN &
wine "$bin/mirc_standin.exe" mIRC "$(win "$records/mirc.txt")" &
# The dispatcher's record has every packet field; the demo shows the packet type and the text.
wine "$bin/dispatcher_standin.exe" "$(win "$records/log.txt")" |
  sed -u -E 's/^dispatcher: type=([0-9]+) .* text=(.*)$/[log] type \1: \2/' &

# A demo, not a test: give the stand-ins a moment to open their windows.
sleep 2

echo "== Playing tools/demo/playlist.txt"
wine "$bin/player.exe" --plugin "$(win "$bin")\\gen_skorrel.dll" \
  --playlist "$(win tools/demo/playlist.txt)" --script "$(win tools/demo/script.txt)" |
  sed -u -n -E 's/\r$//; /^action wait/d; s/^action (.*)/\n== player: \1/p; s/^(init|quit |unloaded)(.*)/== player: \1\2/p'
sleep 1
