#!/usr/bin/env bash
# Inside the demo's Wine session: the stand-in messenger, mIRC and log dispatcher run beside the
# stand-in player, all writing to this terminal as things happen, so each track's lines follow
# the player's action that caused them. A local MariaDB server takes the database publisher's
# statements; its rows are shown at the end.
set -euo pipefail
build=${1:-build/win32}
bin=$build/bin
records=$(mktemp -d)
# The server runs as the mysql user, which must reach its folder inside this one.
chmod 755 "$records"
database="$records/mariadb"
trap 'scripts/demo-mysql.sh stop "$database" >/dev/null 2>&1 || true; rm -rf "$records"' EXIT
win() { winepath -w "$1"; }

echo "== Starting a local MariaDB server for the database publisher"
port=$(scripts/demo-mysql.sh start "$database")
echo "listening on 127.0.0.1:$port; the plug-in finds the port under [kivNormal] in $database/my.cnf"

key='HKCU\Software\Brenwick\Winamp Plugins\Skorrel\Global'
setting() { wine reg add "$key" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1; }
setting CSDebug REG_SZ viewer.example
setting "MySQL Active" REG_DWORD 1
setting "MySQL Server" REG_SZ 127.0.0.1
setting "MySQL UserName" REG_SZ winamp
setting "MySQL Password" REG_SZ pw

# No Windows MySQL client library exists here: the stand-in libmysql.dll, found on the search
# path, speaks the client protocol to the server itself in its live mode.
export WINEPATH
WINEPATH=$(win "$build/standin-mysql")
export SKORREL_MYSQL_LIVE=1 MYSQL_HOME
MYSQL_HOME=$(win "$database")

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

echo
echo "== Rows in tolby.winamp_played"
scripts/demo-mysql.sh rows "$database"
