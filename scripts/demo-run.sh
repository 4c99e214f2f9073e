#!/usr/bin/env bash
# Inside the demo's Wine session: the stand-in messenger, mIRC and log dispatcher run beside the
# stand-in player, all writing to this terminal as things happen, so each track's lines follow
# the player's action that caused them. A local MariaDB server takes the database publisher's
# statements, which travel through the plug-in's own SSH tunnel to a local sshd; the rows are
# shown at the end. Stand-ins for ListenBrainz and Last.fm show what playing now and each listen
# they receive, and a backlog sent once they are back.
set -euo pipefail
build=${1:-build/win32}
bin=$build/bin
records=$(mktemp -d)
# The server runs as the mysql user, which must reach its folder inside this one.
chmod 755 "$records"
database="$records/mariadb"
# Password login to sshd needs root: a user with sudo is asked once.
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
standins=()
cleanup() {
  for pid in "${standins[@]}"; do kill "$pid" 2>/dev/null || true; done
  as_root scripts/demo-sshd.sh stop "$records/sshd" >/dev/null 2>&1 || true
  scripts/demo-mysql.sh stop "$database" >/dev/null 2>&1 || true
  as_root rm -rf "$records"
}
trap cleanup EXIT
win() { winepath -w "$1"; }
source "$(dirname "${BASH_SOURCE[0]}")/loopback.sh"

echo "== Starting a local MariaDB server for the database publisher"
port=$(scripts/demo-mysql.sh start "$database")
echo "listening on 127.0.0.1:$port"

echo "== Starting a local sshd for the plug-in's SSH tunnel"
# Only an Ed25519 host key, and an Ed25519 key in OpenSSH's format to log in: what a current
# OpenSSH server and a plain "ssh-keygen" make.
ssh_port=$(as_root env SKORREL_SSHD_HOSTKEY_TYPE=ed25519 scripts/demo-sshd.sh start "$records/sshd")
{ read -r ssh_user; read -r _; } < <(scripts/demo-sshd.sh login)
echo "listening on 127.0.0.1:$ssh_port, host key ED25519 $(as_root scripts/demo-sshd.sh hostkey "$records/sshd")"
# The plug-in logs in with a key file; SSH Password is then its passphrase.
ssh_key=$(as_root scripts/demo-sshd.sh keys "$records/sshd")/ed25519_locked
echo "logging in with the key file $ssh_key (passphrase \"key pass\"); the host key is pinned at the first connection"

# The plug-in's listener takes the client library's connections on this port and relays each
# through sshd to MariaDB; the client library finds it under [kivNormal] in its option file. No
# character-set line: the plug-in sets the connection to utf8mb4 itself.
tunnel_port=$(free_port)
export SKORREL_TEST_TUNNEL_PORT=$tunnel_port
mkdir "$records/client"
printf '[kivNormal]\nport=%s\n' "$tunnel_port" >"$records/client/my.ini"
echo "the tunnel: client library -> 127.0.0.1:$tunnel_port (plug-in) -> sshd -> 127.0.0.1:$port (MariaDB)"

# start_standin SERVICE VARIABLE: a scrobbling or cover stand-in on a free port, its address in VARIABLE and
# what it receives on this terminal.
start_standin() {
  local log="$records/$1.log" port=
  python3 tools/scrobble_standin.py "$1" >"$log" &
  standins+=($!)
  for _ in $(seq 100); do
    port=$(head -n 1 "$log")
    [ -n "$port" ] && break
    sleep 0.1
  done
  printf -v "$2" %s "http://127.0.0.1:$port"
  tail -n +2 -f "$log" | sed -u -E 's/^([a-z]+): /[\1] /' &
  standins+=($!)
}
# standin_answer ADDRESS LINES: what the stand-in answers from now on (see its header).
standin_answer() {
  python3 -c 'import sys, urllib.request; urllib.request.urlopen(sys.argv[1] + "/_answer", sys.argv[2].encode())' "$1" "$2"
}
echo "== Starting the ListenBrainz, Last.fm and album cover stand-ins"
start_standin listenbrainz listenbrainz
start_standin lastfm lastfm
start_standin covers covers
echo "ListenBrainz at $listenbrainz, Last.fm at $lastfm/2.0/, the iTunes Search API and the Cover Art Archive at $covers"

key='HKCU\Software\Brenwick\Winamp Plugins\Skorrel\Global'
setting() { wine reg add "$key" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1; }
setting CSDebug REG_SZ viewer.example
setting "MySQL Active" REG_DWORD 1
setting "MySQL Server" REG_SZ "127.0.0.1:$port"
setting "MySQL UserName" REG_SZ winamp
setting "MySQL Password" REG_SZ pw
setting "MySQL SSH" REG_DWORD 1
setting "SSH Active" REG_DWORD 1
setting "SSH Server" REG_SZ "127.0.0.1:$ssh_port"
setting "SSH UserName" REG_SZ "$ssh_user"
setting "SSH Password" REG_SZ "key pass"
setting "SSH Key File" REG_SZ "$(win "$ssh_key")"
# The now-playing file, read by a stand-in overlay, and Discord's presence, sent to a stand-in Discord.
setting "File Active" REG_DWORD 1
setting "File Path" REG_SZ "$(win "$records")\\overlay\\nowplaying.txt"
setting "Discord Active" REG_DWORD 1
setting "Discord Application ID" REG_SZ 1000000000000000001
# Album covers looked up in the stand-in services; the presence holds their URL.
setting "iTunes Search API" REG_SZ "$covers"
setting "Cover Art Archive API" REG_SZ "$covers"
# Both scrobbling services, with the stand-ins' token, key, secret and session key.
setting "ListenBrainz Active" REG_DWORD 1
setting "ListenBrainz Token" REG_SZ lb-token
setting "ListenBrainz API" REG_SZ "$listenbrainz"
setting "Last.fm Active" REG_DWORD 1
setting "Last.fm API Key" REG_SZ lfm-key
setting "Last.fm API Secret" REG_SZ lfm-secret
setting "Last.fm Session Key" REG_SZ lfm-session
setting "Last.fm API" REG_SZ "$lastfm/2.0/"

# As a user installs it: the plug-in and libssh2.dll side by side in a Plugins folder of their own.
mkdir "$records/Plugins"
cp "$bin/gen_skorrel.dll" "$bin/skorrel_sqlite3.dll" "$build/windows-libs/libssh2.dll" "$records/Plugins/"

# The real client library, MariaDB Connector/C as the build made it, on the search path, with its
# option file in the same folder.
cp "$build/windows-libs/libmysql.dll" "$records/client/"
export WINEPATH MARIADB_HOME
WINEPATH=$(win "$records/client")
MARIADB_HOME=$WINEPATH

wine "$bin/messenger_standin.exe" "$(win "$records/msn.txt")" MSN &
wine "$bin/mirc_standin.exe" mIRC "$(win "$records/mirc.txt")" &
# The dispatcher's record has every packet field; the demo shows the packet type and the text.
wine "$bin/dispatcher_standin.exe" "$(win "$records/log.txt")" |
  LC_ALL=C sed -u -E 's/^dispatcher: type=([0-9]+) .* text=(.*)$/[log] type \1: \2/' &

wine "$bin/discord_standin.exe" - | sed -u -E 's/\r$//; /^discord: op=/!d; s/^discord: /[discord] /' &
wine "$bin/overlay_reader.exe" "$(win "$records")\\overlay\\nowplaying.txt" - |
  sed -u -E 's/\r$//; s/^overlay: (.*)$/[overlay] file now reads "\1"/' &

# A demo, not a test: give the stand-ins a moment to open their windows.
sleep 2

# play SCRIPT: one run of the stand-in player on the demo playlist.
play() {
  wine "$bin/player.exe" --plugin "$(win "$records/Plugins")\\gen_skorrel.dll" \
    --playlist "$(win tools/demo/playlist.txt)" --script "$(win "$1")" |
    sed -u -n -E 's/\r$//; /^action wait/d; s/^action (.*)/\n== player: \1/p; s/^(init|quit |unloaded)(.*)/== player: \1\2/p'
  sleep 1
}

echo "== Playing tools/demo/playlist.txt"
play tools/demo/script.txt

echo
echo "== Rows in tolby.winamp_played, each sent through the tunnel"
scripts/demo-mysql.sh rows "$database"

echo
echo "== The database server goes down; the player plays two tracks and quits"
scripts/demo-mysql.sh stop "$database"
play tools/demo/offline.txt
echo
echo "== The server is back; the player starts again and sends what waited in its outbox"
port=$(scripts/demo-mysql.sh start "$database")
setting "MySQL Server" REG_SZ "127.0.0.1:$port"
play tools/demo/back.txt
echo
echo "== Rows in tolby.winamp_played: the two played offline came last, in order"
scripts/demo-mysql.sh rows "$database"

echo
echo "== Scrobbling, with the player's clock 100 times faster: a track counts after half its length"
echo "   or 4 minutes, here within 2.4 s; each service is told what plays now at each track"
SKORREL_TEST_CLOCK_RATE=100 play tools/demo/scrobble.txt
echo
echo "== Both services answer 503: two tracks played and counted wait in the outbox"
standin_answer "$listenbrainz" "503 always"
standin_answer "$lastfm" "503 always"
SKORREL_TEST_CLOCK_RATE=100 play tools/demo/scrobble-offline.txt
echo
echo "== Both are back: the next start sends the backlog, in order, in one request to each"
standin_answer "$listenbrainz" ""
standin_answer "$lastfm" ""
play tools/demo/back.txt
echo "sshd accepted $(as_root grep -c 'Accepted publickey for' "$records/sshd/sshd.log") tunnel logins with the key"
echo "the pinned host key: $(wine reg query "$key" /v "SSH Host Key" 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r')"
