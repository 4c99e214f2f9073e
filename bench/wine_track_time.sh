#!/usr/bin/env bash
# The player's window-thread time per published track under Wine, with no messenger and no mIRC
# running: once with mIRC publishing off, once with it on (each track then makes a failed DDE
# connect and a failed start attempt of "mIRC COMMAND"), once with the now-playing file and Discord
# on, and once with the database on (each track's statement handed to the sender, which stores it
# in the outbox and, with no client library here, keeps it). The runs alternate, ROUNDS times (3
# unless set), and each line gives every round's mean and their median, so that a busy machine
# shows as spread rather than as a figure. Run inside scripts/with-wine.sh; SKORREL_BENCH_DLL
# times another build of the DLL, to compare before and after.
set -euo pipefail
build=${1:-build/win32}
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tracks=${TRACKS:-200}
dll=$(realpath "${SKORREL_BENCH_DLL:-$bin/gen_skorrel.dll}")
rounds=${ROUNDS:-3}

for i in $(seq 0 $((tracks - 1))); do
  printf 'C:\\Music\\track %d.mp3\n  artist=Artist %d\n  title=Title %d\n  album=Album\n' "$i" "$i" "$i"
done >"$work/playlist.txt"
for i in $(seq 0 $((tracks - 1))); do echo "play $i"; done >"$work/script.txt"

key='HKCU\Software\Brenwick\Winamp Plugins\Skorrel\Global'
set_dword() { wine reg add "$key" /v "$1" /t REG_DWORD /d "$2" /f >/dev/null 2>&1; }
set_text() { wine reg add "$key" /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1; }
# Prints the run's mean time per notice, in microseconds.
run() {
  # The working folder holds nothing named mIRC, so the start attempt finds no program.
  (cd "$work" && wine "$OLDPWD/$bin/player.exe" --plugin "$(winepath -w "$dll")" \
    --playlist "$(winepath -w playlist.txt)" --script "$(winepath -w script.txt)" --timing) |
    tr -d '\r' | sed -n 's/^timing .*mean_us=\([0-9.]*\).*/\1/p'
}
configure() {
  set_dword "mIRC Active" "$1"
  set_dword "File Active" "$2"
  set_dword "Discord Active" "$2"
  set_dword "MySQL Active" "$3"
}
set_text "File Path" "$(winepath -w "$work")\\np.txt"
set_text "Discord Application ID" 1234
set_text "MySQL Server" 127.0.0.1
set_text "Outbox Path" "$(winepath -w "$work")\\outbox.sqlite3"
names=("mIRC off, no messenger:          " "file and Discord on, mIRC off:   " "mIRC on but absent, no messenger:"
  "database on, mIRC off:           ")
settings=("0 0 0" "0 1 0" "1 0 0" "0 0 1")
declare -a means
for _ in $(seq "$rounds"); do
  for i in 0 1 2 3; do
    # shellcheck disable=SC2086 # three words: mIRC, the file and Discord, the database
    configure ${settings[$i]}
    means[i]+="$(run) "
  done
done
for i in 0 1 2 3; do
  median=$(tr ' ' '\n' <<<"${means[$i]}" | sed '/^$/d' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')
  echo "${names[$i]} mean us per notice, median $median (rounds: ${means[$i]% })"
done
