#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2034,SC2317  # each check is a condition in a string that check evaluates
# The installer under Wine, silent, in a prefix with fake player folders holding the stand-in
# player as winamp.exe. Runs inside scripts/with-wine.sh:
#   installer_test.sh DIST VERSION EARLIER_SETUP BUILD
# DIST holds skorrel-VERSION-setup.exe, EARLIER_SETUP is the same script at a lower version with
# marker files for DLLs, BUILD is the Windows build whose stand-ins and release stage to use.
set -euo pipefail
dist=$1 version=$2 earlier=$3 build=$4
setup=$dist/skorrel-$version-setup.exe
stage=$build/release/stage
bin=$build/bin
tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
check() { if eval "$2"; then echo "ok: $1"; else fail "$1"; fi; }

drive=$(winepath -u "C:\\")
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Skorrel'
settings_key='HKCU\Software\Brenwick\Winamp Plugins\Skorrel\Global'
reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
reg_key_exists() { wine reg query "$1" >/dev/null 2>&1; }
setting() { wine reg add "$settings_key" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1; }
player_folder() {
  mkdir -p "$drive/$1/Plugins"
  cp "$bin/player.exe" "$drive/$1/winamp.exe"
}
# The files the installer puts into a player folder, relative to it, libmysql.dll aside (and the
# uninstaller, which cannot delete itself when run with _?=).
installed=$(cd "$stage" && find Plugins -type f | sort)
same_as_stage() {
  local file
  for file in $installed; do cmp -s "$stage/$file" "$drive/$1/$file" || return 1; done
}
# ... and the folder's record of its libmysql.dll.
none_left() {
  local file
  for file in $installed Plugins/Skorrel/installed.ini; do [ ! -e "$drive/$1/$file" ] || return 1; done
}
uninstall() { wine "$drive/$1/Plugins/Skorrel/uninstall.exe" /S "_?=C:\\$1\\Plugins\\Skorrel"; }
user_dll=$build/standin-mysql/libmysql.dll
ours() { cmp -s "$stage/libmysql.dll" "$drive/$1/libmysql.dll"; }
users() { cmp -s "$user_dll" "$drive/$1/libmysql.dll"; }
# iX installs into the folder X, eX installs the earlier version there, uX runs X's uninstaller.
step() {
  case $1 in
    i*) wine "$setup" /S "/D=C:\\${1#?}" ;;
    e*) wine "$earlier" /S "/D=C:\\${1#?}" ;;
    u*) uninstall "${1#?}" ;;
  esac
}
# Until FILE holds TEXT, for a minute at most: other processes write it on their own time.
wait_for() {
  local deadline=$((SECONDS + 60))
  until grep -qF -- "$2" "$1" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

# Settings as a user has them, which no install or uninstall may touch.
setting "MySQL Active" REG_DWORD 1
setting "MySQL Server" REG_SZ 127.0.0.1
setting "MySQL UserName" REG_SZ winamp
setting "MySQL Password" REG_SZ pw

echo "== into a folder named with /D=, where no libmysql.dll is"
player_folder Fresh
wine "$setup" /S '/D=C:\Fresh' && rc=0 || rc=$?
check "the installer succeeds" '[ $rc = 0 ]'
check "every file lands where listed" 'same_as_stage Fresh && cmp -s "$stage/libmysql.dll" "$drive/Fresh/libmysql.dll"'
check "the uninstall entry has the version and the uninstaller" \
  '[ "$(reg_value "$uninstall_key" DisplayVersion)" = "$version" ] &&
   reg_value "$uninstall_key" UninstallString | grep -qF "C:\\Fresh\\Plugins\\Skorrel\\uninstall.exe"'
uninstall Fresh && rc=0 || rc=$?
check "the uninstaller removes every installed file, its libmysql.dll too" \
  '[ $rc = 0 ] && none_left Fresh && [ ! -e "$drive/Fresh/libmysql.dll" ]'
check "the uninstaller removes its registry entry and keeps the settings" \
  '! reg_key_exists "$uninstall_key" && [ "$(reg_value "$settings_key" "MySQL UserName")" = winamp ]'
mkdir -p "$drive/NoPlayer"
wine "$setup" /S '/D=C:\NoPlayer' && rc=0 || rc=$?
check "a folder without winamp.exe is refused (exit code 4)" '[ $rc = 4 ] && [ ! -e "$drive/NoPlayer/Plugins" ]'

echo "== over an earlier version, in the folder the player registered, beside the user's libmysql.dll"
player_folder Player
cp "$build/standin-mysql/libmysql.dll" "$drive/Player/libmysql.dll"
wine reg add 'HKCU\Software\Winamp' /ve /d 'C:\Player' /f >/dev/null 2>&1
wine "$earlier" /S && wine "$setup" /S && rc=0 || rc=$?
check "both installers succeed" '[ $rc = 0 ]'
check "the earlier version's files are replaced" 'same_as_stage Player'
check "the user's libmysql.dll is left alone" 'cmp -s "$build/standin-mysql/libmysql.dll" "$drive/Player/libmysql.dll"'
check "the uninstall entry names the new version" '[ "$(reg_value "$uninstall_key" DisplayVersion)" = "$version" ]'
check "the settings are kept" '[ "$(reg_value "$settings_key" "MySQL Server")" = 127.0.0.1 ]'
uninstall Player && rc=0 || rc=$?
check "the uninstaller leaves the user's libmysql.dll" \
  '[ $rc = 0 ] && cmp -s "$build/standin-mysql/libmysql.dll" "$drive/Player/libmysql.dll"'

echo "== two folders, A without a libmysql.dll and B with the user's, in every order"
# After each step B's libmysql.dll is the user's, A's is ours while A is installed and gone after,
# and the uninstall entry names the folder installed into last until that folder is uninstalled.
for order in "iA iB uA uB" "iA iB uB uA" "iA uA iB uB" "iB iA uA uB" "iB iA uB uA" "iB uB iA uA"; do
  rm -rf "$drive/A" "$drive/B"
  player_folder A
  player_folder B
  cp "$user_dll" "$drive/B/libmysql.dll"
  why="" a_installed=0 last=""
  for event in $order; do
    folder=${event#?}
    step "$event" || { why="$event failed"; break; }
    case $event in
      iA) a_installed=1 last=A ;;
      iB) last=B ;;
      uA) a_installed=0 ;;
    esac
    if [ "$event" = "u$last" ]; then last=""; fi
    if [ "${event%?}" = u ] && ! none_left "$folder"; then why="$event left files"; break; fi
    users B || { why="after $event B's libmysql.dll is not the user's"; break; }
    if [ $a_installed = 1 ]; then ours A; else [ ! -e "$drive/A/libmysql.dll" ]; fi ||
      { why="after $event A's libmysql.dll is not as installed"; break; }
    if [ -n "$last" ]; then [ "$(reg_value "$uninstall_key" InstallLocation)" = "C:\\$last" ]; else ! reg_key_exists "$uninstall_key"; fi ||
      { why="after $event the uninstall entry does not name ${last:-nothing}"; break; }
  done
  check "$order${why:+: $why}" '[ -z "$why" ]'
done

echo "== a libmysql.dll is replaced or removed only while it is still the file that was installed"
for folder in U C O M; do player_folder $folder; done
cp "$user_dll" "$drive/M/libmysql.dll"
step eU && step iU && rc=0 || rc=$?
check "an upgrade replaces the libmysql.dll the earlier version installed" '[ $rc = 0 ] && ours U'
step uU && rc=0 || rc=$?
check "and its uninstaller removes it" '[ $rc = 0 ] && [ ! -e "$drive/U/libmysql.dll" ]'
# The same size, one byte changed: a user's own build, or a file damaged since.
flip_byte() { python3 -c 'import sys; f = open(sys.argv[1], "r+b"); b = f.read(1); f.seek(0); f.write(bytes([b[0] ^ 1]))' "$1"; }
step iC && flip_byte "$drive/C/libmysql.dll" && cp "$drive/C/libmysql.dll" "$tmp/changed.dll" &&
  step iC && step uC && rc=0 || rc=$?
check "a libmysql.dll changed since it was installed is neither replaced nor removed" \
  '[ $rc = 0 ] && cmp -s "$tmp/changed.dll" "$drive/C/libmysql.dll"'
# An install made before folders kept their record: no record, the flag in the uninstall key, true
# of the folder the key names, and that version's libmysql.dll.
step iO && rm -f "$drive/O/Plugins/Skorrel/installed.ini" && echo "earlier version" >"$drive/O/libmysql.dll" &&
  wine reg add "$uninstall_key" /v InstalledLibmysql /t REG_DWORD /d 1 /f >/dev/null 2>&1 && step iM && rc=0 || rc=$?
check "the flag of an install made before the record does not claim another folder's libmysql.dll" \
  '[ $rc = 0 ] && users M && [ -z "$(reg_value "$uninstall_key" InstalledLibmysql)" ]'
step iO && rc=0 || rc=$?
check "it still claims the libmysql.dll of its own folder, which an upgrade replaces" '[ $rc = 0 ] && ours O'
step uO && step uM && rc=0 || rc=$?
check "whose uninstaller removes it, and the other's keeps the user's" \
  '[ $rc = 0 ] && [ ! -e "$drive/O/libmysql.dll" ] && users M'

echo "== the player loads the installed plug-in"
wine "$setup" /S && rc=0 || rc=$?
check "installing again succeeds" '[ $rc = 0 ]'
win() { winepath -w "$1"; }
wine "$bin/messenger_standin.exe" "$(win "$tmp/msn.txt")" MSN >"$tmp/msn.out" &
pids+=($!)
wine "$bin/mirc_standin.exe" mIRC "$(win "$tmp/mirc.txt")" >"$tmp/mirc.out" &
pids+=($!)
if ! wait_for "$tmp/msn.out" "messenger ready" || ! wait_for "$tmp/mirc.out" "DDE server ready"; then
  fail "the stand-in messenger and mIRC did not start"
fi
printf 'C:\\Music\\Artist - Song.mp3\n  artist=Artist\n  title=Song\n' >"$tmp/playlist.txt"
printf 'play 0\nwait 120000\n' >"$tmp/script.txt"
SKORREL_MYSQL_RECORD=$(win "$tmp/calls.txt") wine 'C:\Player\winamp.exe' --plugin 'C:\Player\Plugins\gen_skorrel.dll' \
  --playlist "$(win "$tmp/playlist.txt")" --script "$(win "$tmp/script.txt")" --out "$(win "$tmp/player.txt")" \
  >/dev/null &
pids+=($!)
check "the player loads the plug-in from Plugins" 'wait_for "$tmp/player.txt" "plugin [kiv] Skorrel version 16"'
check "the messenger shows the track" 'wait_for "$tmp/msn.txt" "\\0Song\\0Artist\\0"'
check "mIRC receives the command" 'wait_for "$tmp/mirc.txt" "/ame is listening to Artist - Song"'
check "the client library beside winamp.exe runs the statement" 'wait_for "$tmp/calls.txt" "values ('"'"'Artist - Song'"'"')"'

echo "== while the player runs"
wine "$setup" /S && rc=0 || rc=$?
check "the installer refuses (exit code 3)" '[ $rc = 3 ]'
uninstall Player && rc=0 || rc=$?
check "the uninstaller refuses (exit code 3) and removes nothing" '[ $rc = 3 ] && same_as_stage Player'

exit $status
