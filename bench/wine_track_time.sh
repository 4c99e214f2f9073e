#!/usr/bin/env bash
# The player's window-thread time per published track under Wine, with no messenger and no mIRC
# running: once with mIRC publishing off, once with it on (each track then makes a failed DDE
# connect and a failed start attempt of "mIRC COMMAND"). Run inside scripts/with-wine.sh.
set -euo pipefail
build=${1:-build/win32}
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tracks=${TRACKS:-200}

for i in $(seq 0 $((tracks - 1))); do
  printf 'C:\\Music\\track %d.mp3\n  artist=Artist %d\n  title=Title %d\n  album=Album\n' "$i" "$i" "$i"
done >"$work/playlist.txt"
for i in $(seq 0 $((tracks - 1))); do echo "play $i"; done >"$work/script.txt"

key='HKCU\Software\Brenwick\Winamp Plugins\Skorrel\Global'
run() {
  wine reg add "$key" /v "mIRC Active" /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  # The working folder holds nothing named mIRC, so the start attempt finds no program.
  (cd "$work" && wine "$OLDPWD/$bin/player.exe" --plugin "$(winepath -w "$OLDPWD/$bin/gen_skorrel.dll")" \
    --playlist "$(winepath -w playlist.txt)" --script "$(winepath -w script.txt)" --timing) |
    tr -d '\r' | grep '^timing'
}
echo "mIRC off, no messenger:           $(run 0)"
# The now-playing file and Discord on (Discord not running), mIRC off.
wine reg add "$key" /v "File Active" /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$key" /v "File Path" /t REG_SZ /d "$(winepath -w "$work")\\np.txt" /f >/dev/null 2>&1
wine reg add "$key" /v "Discord Active" /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$key" /v "Discord Application ID" /t REG_SZ /d 1234 /f >/dev/null 2>&1
echo "file and Discord on, mIRC off:    $(run 0)"
wine reg add "$key" /v "File Active" /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add "$key" /v "Discord Active" /t REG_DWORD /d 0 /f >/dev/null 2>&1
echo "mIRC on but absent, no messenger: $(run 1)"
