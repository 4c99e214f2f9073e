#!/usr/bin/env bash
# The database's sender draining a backlog under Wine: an outbox of 1,000 statements made
# beforehand with the sqlite3 tool, the stand-in player with the real DLL, the build's libssh2.dll
# and libmysql.dll, and the plug-in's own SSH tunnel to a local sshd and on to MariaDB. The sender
# sends them on one kept connection; the time runs until the table holds them all. Against it: a
# new connection, and so a new SSH session, per statement through the same listener in the same
# player, as statements were sent before the outbox.
#
# Two sessions: one with the log client sending every line to the stand-in dispatcher (the drain
# is timed from the first "starting" line to the last "finished" line, by the plug-in's own clock),
# one with the log off (timed by this script's clock until the table holds every row, from when it
# held the first, and from the player's start). The log client hands each line to the dispatcher
# before the sender goes on, so the two differ by far. Run inside scripts/with-wine.sh;
# SKORREL_BENCH_DLL puts another build of the DLL in; BACKLOG and CONNECTIONS change the counts
# (1000 and 50).
set -euo pipefail
build=${1:-build/win32}
bin=$build/bin
backlog=${BACKLOG:-1000}
connections=${CONNECTIONS:-50}
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
source "$scripts/loopback.sh"
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

work=$(mktemp -d)
# The server runs as the mysql user, which must reach its folder inside this one.
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  as_root "$scripts/demo-sshd.sh" stop "$work/sshd" >/dev/null 2>&1 || true
  "$scripts/demo-mysql.sh" stop "$work/mariadb" >/dev/null 2>&1 || true
  as_root rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
win() { winepath -w "$1"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
fail() { echo "wine_outbox_drain.sh: $*" >&2; exit 1; }

wait_accepts() {
  for _ in $(seq 300); do
    accepts "$1" && return 0
    sleep 0.1
  done
  fail "nothing accepts on port $1"
}

command -v sqlite3 >/dev/null || fail "needs the sqlite3 tool (scripts/install-deps.sh installs it)"

db_port=$("$scripts/demo-mysql.sh" start "$work/mariadb")
admin=root
[ "$(id -u)" -eq 0 ] || admin=$(id -un)
sql() { mariadb --no-defaults --socket="$work/mariadb/sock" -u"$admin" -N -B -e "$1"; }
rows() { sql 'SELECT count(*) FROM tolby.winamp_played'; }

ssh_port=$(as_root "$scripts/demo-sshd.sh" start "$work/sshd")
{ read -r ssh_user; read -r ssh_password; } < <("$scripts/demo-sshd.sh" login)

tunnel_port=$(free_port)
export SKORREL_TEST_TUNNEL_PORT=$tunnel_port
mkdir "$work/client" "$work/Plugins"
printf '[kivNormal]\nport=%s\n' "$tunnel_port" >"$work/client/my.ini"
cp "$build/windows-libs/libmysql.dll" "$work/client/"
export WINEPATH MARIADB_HOME
WINEPATH=$(win "$work/client")
MARIADB_HOME=$WINEPATH
cp "${SKORREL_BENCH_DLL:-$bin/gen_skorrel.dll}" "$work/Plugins/gen_skorrel.dll"
cp "$bin/skorrel_sqlite3.dll" "$work/Plugins/"
cp "$build/windows-libs/libssh2.dll" "$work/Plugins/"

key='HKCU\Software\Brenwick\Winamp Plugins\Skorrel\Global'
setting() { wine reg add "$key" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1; }
wine reg delete "$key" /f >/dev/null 2>&1 || true
for off in "MSN Active" "mIRC Active" "File Active" "Discord Active"; do setting "$off" REG_DWORD 0; done
setting "MySQL Active" REG_DWORD 1
setting "MySQL Server" REG_SZ "127.0.0.1:$db_port"
setting "MySQL UserName" REG_SZ winamp
setting "MySQL Password" REG_SZ pw
setting "MySQL SSH" REG_DWORD 1
setting "SSH Active" REG_DWORD 1
setting "SSH Server" REG_SZ "127.0.0.1:$ssh_port"
setting "SSH UserName" REG_SZ "$ssh_user"
setting "SSH Password" REG_SZ "$ssh_password"
setting "Outbox Path" REG_SZ "$(win "$work")\\outbox.sqlite3"

# The file as the plug-in leaves it: its schema, WAL, and the backlog in the "mysql" queue, each
# body the statement the default command makes.
make_outbox() {
  rm -f "$work/outbox.sqlite3" "$work/outbox.sqlite3-wal" "$work/outbox.sqlite3-shm"
  sqlite3 "$work/outbox.sqlite3" >/dev/null <<SQL
PRAGMA journal_mode=WAL;
CREATE TABLE outbox(id INTEGER PRIMARY KEY AUTOINCREMENT, queue TEXT NOT NULL, body BLOB NOT NULL,
  stored_at INTEGER NOT NULL);
CREATE TABLE failed(id INTEGER PRIMARY KEY, queue TEXT NOT NULL, body BLOB NOT NULL,
  stored_at INTEGER NOT NULL, failed_at INTEGER NOT NULL, error TEXT NOT NULL);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $backlog)
INSERT INTO outbox(queue, body, stored_at)
  SELECT 'mysql', CAST('insert into \`tolby\`.\`winamp_played\` (\`fulltitle\`) values (''Backlog artist '
    || i || ' - Backlog title ' || i || ''')' AS BLOB), strftime('%s', 'now') FROM n;
SQL
  [ "$(sqlite3 "$work/outbox.sqlite3" "SELECT count(*) FROM outbox WHERE queue = 'mysql'")" = "$backlog" ] ||
    fail "the outbox was not made"
}

# Until the table holds COUNT rows, at most three minutes; sets first_row_at to when it first held
# one, by this script's clock.
wait_rows() {  # wait_rows COUNT
  local deadline=$(($(now_ms) + 180000)) held
  first_row_at=
  while held=$(rows) && [ "$held" -lt "$1" ]; do
    [ -n "$first_row_at" ] || [ "$held" -eq 0 ] || first_row_at=$(now_ms)
    [ "$(now_ms)" -lt "$deadline" ] || fail "the table holds $held of $1 rows after three minutes"
    sleep 0.02
  done
  [ -n "$first_row_at" ] || first_row_at=$(now_ms)
}

# The way before: a connection, and so an SSH session, per statement, from a native client through
# the plug-in's listener. The same client straight to MariaDB shows what the client alone costs.
per_connection() {  # per_connection PORT: statements per second
  local start end i
  start=$(now_ms)
  for i in $(seq "$connections"); do
    mariadb --no-defaults --protocol=TCP -h127.0.0.1 -P"$1" -uwinamp -ppw \
      -e "insert into tolby.winamp_played (fulltitle) values ('One connection $i')" ||
      fail "a statement through port $1 failed"
  done
  end=$(now_ms)
  awk -v n="$connections" -v ms=$((end - start)) 'BEGIN { printf "%.1f", n * 1000 / ms }'
}

rate() { awk -v n="$1" -v ms="$2" 'BEGIN { printf "%.1f", n * 1000 / ms }'; }

# One player session: the backlog drains, then the statements with a connection each go through
# the same listener. Sets drain_rate, whole_rate (log off), tunnel_rate, direct_rate, retries.
session() {  # session LOGGED(0|1)
  local logged=$1 event=skorrel-drain-done-$$-$1 record=$work/log-$1.txt start player dispatcher
  make_outbox
  sql 'TRUNCATE tolby.winamp_played'
  if [ "$logged" = 1 ]; then
    setting CSDebug REG_SZ viewer.example
    wine "$bin/dispatcher_standin.exe" "$(win "$record")" >/dev/null &
    dispatcher=$!
    pids+=("$dispatcher")
    # The plug-in looks for the dispatcher's window once, at its Init.
    for _ in $(seq 100); do [ -e "$record" ] && break; sleep 0.1; done
    sleep 1
  else
    wine reg delete "$key" /v CSDebug /f >/dev/null 2>&1 || true
  fi
  printf 'waitevent %s 900000\nquit\n' "$event" >"$work/script-$logged.txt"
  : >"$work/playlist.txt"
  start=$(now_ms)
  wine "$bin/player.exe" --plugin "$(win "$work/Plugins")\\gen_skorrel.dll" \
    --playlist "$(win "$work/playlist.txt")" --script "$(win "$work/script-$logged.txt")" >/dev/null &
  player=$!
  pids+=("$player")
  wait_rows "$backlog"
  local end
  end=$(now_ms)
  if [ "$logged" = 1 ]; then
    # The dispatcher records each line as it comes; give the last ones a moment.
    sleep 1
    # day and ms are the plug-in's local time when it logged the line.
    local span
    span=$(tr -d '\r' <"$record" | awk '
      /TThreadMySQLUpdater.Execute: starting$/ && !first { first = $0 }
      /TThreadMySQLUpdater.Execute: finished$/ { last = $0 }
      function at(line,   d, m) {
        match(line, / day=[0-9]+/); d = substr(line, RSTART + 5, RLENGTH - 5)
        match(line, / ms=[0-9]+/); m = substr(line, RSTART + 4, RLENGTH - 4)
        return d * 86400000 + m
      }
      END { if (first && last) print at(last) - at(first) }')
    [ -n "$span" ] || { tail -n 20 "$record" >&2; fail "the log holds no sender lines"; }
    drain_rate=$(rate "$backlog" "$span")
    drain_how="first \"starting\" to last \"finished\" line, ${span} ms"
    retries=$(grep -c 'Exception occured' "$record" || true)
  else
    # From the first row the start-up is left out, as from the first line with the log on.
    drain_rate=$(rate $((backlog - 1)) $((end - first_row_at)))
    whole_rate=$(rate "$backlog" $((end - start)))
    drain_how="first row to $backlog rows, $((end - first_row_at)) ms; player's start to $backlog rows, $((end - start)) ms"
    retries=n/a
  fi
  tunnel_rate=$(per_connection "$tunnel_port")
  direct_rate=$(per_connection "$db_port")
  wine "$bin/tunnel_bench.exe" signal "$event"
  wait "$player" || true
  if [ "$logged" = 1 ]; then
    kill "$dispatcher" 2>/dev/null || true
    wait "$dispatcher" 2>/dev/null || true
  fi
  # All waited for: none of their ids may be killed by the clean-up once reused.
  pids=()
  # The player has closed the outbox: nothing may wait in it.
  [ "$(sqlite3 "$work/outbox.sqlite3" "SELECT count(*) FROM outbox")" = 0 ] || fail "statements still wait in the outbox"
  [ "$(rows)" -eq $((backlog + 2 * connections)) ] || fail "the table holds $(rows) rows, not $((backlog + 2 * connections))"
}

declare -A result
for logged in 1 0; do
  echo "== backlog of $backlog through the plug-in's tunnel, log $([ "$logged" = 1 ] && echo on || echo off)"
  session "$logged"
  echo "drained: $drain_how; connect failures logged: $retries"
  result[$logged]="$drain_rate $tunnel_rate $direct_rate"
done
read -r _ off_tunnel off_direct <<<"${result[0]}"
result[whole]="$whole_rate $off_tunnel $off_direct"

echo
echo "== the outbox's backlog through the plug-in's tunnel under Wine ($(basename "$build")): $backlog statements"
echo "   on the sender's one kept connection, against $connections sequential connect+INSERT+close by the native"
echo "   mariadb client through the same listener in the same player (a new SSH session each)"
printf '| %-40s | %12s | %15s | %7s | %13s |\n' "session, drain timed" "drain stmt/s" "per-conn stmt/s" ratio "client direct"
declare -A labels=([1]="log to the dispatcher, from 'starting'" [0]="log off, from the first row" [whole]="log off, from the player's start")
for run in 1 0 whole; do
  read -r d t c <<<"${result[$run]}"
  awk -v l="${labels[$run]}" -v d="$d" -v t="$t" -v c="$c" \
    'BEGIN { printf "| %-40s | %12s | %15s | %6.1fx | %13s |\n", l, d, t, d / t, c }'
done
echo "(per-conn: the same session's; client direct: the same client straight to MariaDB, no tunnel, what"
echo " a client process and a connection cost alone)"
