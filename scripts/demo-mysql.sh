#!/usr/bin/env bash
# A throw-away MariaDB server for the demo, all of it inside one directory.
#   demo-mysql.sh start DIR   install a data directory in DIR, start the server on a free port on
#                             127.0.0.1, create the user winamp/pw and tolby.winamp_played, and
#                             print the port
#   demo-mysql.sh rows DIR    print the rows of tolby.winamp_played
#   demo-mysql.sh stop DIR    shut the server down and wait until it has gone
set -euo pipefail

usage() { echo "usage: demo-mysql.sh start|rows|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
command=$1
dir=$(realpath -m "$2")

if [ "$(id -u)" -eq 0 ]; then
  as_server=(--user=mysql)
  admin=root
else
  as_server=()
  admin=$(id -un)
fi

client() { mariadb --no-defaults --socket="$dir/sock" -u"$admin" "$@"; }

source "$(dirname "${BASH_SOURCE[0]}")/loopback.sh"

start() {
  mkdir -p "$dir/tmp"
  chmod 755 "$dir"
  [ "$(id -u)" -ne 0 ] || chown mysql:mysql "$dir" "$dir/tmp"
  if [ ! -d "$dir/data/mysql" ]; then
    mariadb-install-db --no-defaults "${as_server[@]}" --datadir="$dir/data" --tmpdir="$dir/tmp" \
      --skip-test-db --innodb-log-file-size=4M >"$dir/install.log" 2>&1 ||
      { cat "$dir/install.log" >&2; exit 1; }
  fi

  # The port was free a moment ago; should another program take it first, the server dies and
  # another port is tried.
  local port pid
  for _ in 1 2 3 4 5; do
    port=$(free_port)
    setsid mariadbd --no-defaults "${as_server[@]}" --datadir="$dir/data" --tmpdir="$dir/tmp" \
      --port="$port" --bind-address=127.0.0.1 --socket="$dir/sock" --skip-name-resolve \
      --pid-file="$dir/mariadbd.pid" --log-error="$dir/server.log" \
      --innodb-log-file-size=4M --innodb-buffer-pool-size=16M </dev/null >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 600); do
      kill -0 "$pid" 2>/dev/null || break
      if mariadb-admin --no-defaults --socket="$dir/sock" -u"$admin" ping >/dev/null 2>&1 &&
        accepts "$port"; then
        echo "$pid" >"$dir/server.pid"
        client <<'SQL'
CREATE DATABASE IF NOT EXISTS tolby;
CREATE TABLE IF NOT EXISTS tolby.winamp_played (
  id INT AUTO_INCREMENT PRIMARY KEY,
  fulltitle VARCHAR(1024) NOT NULL
) CHARACTER SET utf8mb4;
CREATE USER IF NOT EXISTS 'winamp'@'%' IDENTIFIED VIA mysql_native_password USING PASSWORD('pw');
GRANT ALL ON tolby.* TO 'winamp'@'%';
SQL
        echo "$port"
        return 0
      fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "mariadbd did not start; its log:" >&2
  cat "$dir/server.log" >&2 2>/dev/null || true
  exit 1
}

stop() {
  local pid
  pid=$(cat "$dir/server.pid" 2>/dev/null || cat "$dir/mariadbd.pid" 2>/dev/null || true)
  [ -n "$pid" ] || { echo "no server recorded in $dir" >&2; return 0; }
  mariadb-admin --no-defaults --socket="$dir/sock" -u"$admin" shutdown >/dev/null 2>&1 ||
    kill "$pid" 2>/dev/null || true
  for _ in $(seq 300); do
    kill -0 "$pid" 2>/dev/null || { rm -f "$dir/server.pid"; return 0; }
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$dir/server.pid"
}

rows() { client --default-character-set=utf8mb4 --table -e 'SELECT id, fulltitle FROM tolby.winamp_played ORDER BY id'; }

case $command in
  start) start ;;
  stop) stop ;;
  rows) rows ;;
  *) usage ;;
esac
