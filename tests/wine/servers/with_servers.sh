#!/usr/bin/env bash
# Runs the Wine tests that need servers on the host (the tunnel's, and the database publisher's
# with the real client library): sshd and MariaDB, each on a free port on 127.0.0.1, named to the
# tests in the environment and stopped however the tests end; a second sshd has only an Ed25519
# host key.
#   with_servers.sh TEST_PROGRAM [ARGS...]    (inside scripts/with-wine.sh, which provides wine)
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: with_servers.sh TEST_PROGRAM [ARGS...]" >&2; exit 2; }
scripts=$(cd "$(dirname "$0")/../../../scripts" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/skorrel-wine-servers.XXXXXX")
# MariaDB runs as the mysql user, which must reach its folder inside this one.
chmod 755 "$work"
stop_servers() {
  "$scripts/demo-sshd.sh" stop "$work/sshd" >/dev/null 2>&1 || true
  "$scripts/demo-sshd.sh" stop "$work/sshd-ed25519" >/dev/null 2>&1 || true
  "$scripts/demo-mysql.sh" stop "$work/mariadb" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap stop_servers EXIT
trap 'exit 1' INT TERM

SKORREL_MARIADB_PORT=$("$scripts/demo-mysql.sh" start "$work/mariadb")
SKORREL_SSHD_PORT=$("$scripts/demo-sshd.sh" start "$work/sshd")
SKORREL_SSHD_HOSTKEY=$("$scripts/demo-sshd.sh" hostkey "$work/sshd")
SKORREL_SSHD_KEYS=$("$scripts/demo-sshd.sh" keys "$work/sshd")
SKORREL_SSHD_LOG=$work/sshd/sshd.log
SKORREL_SSHD_ED25519_PORT=$(SKORREL_SSHD_HOSTKEY_TYPE=ed25519 "$scripts/demo-sshd.sh" start "$work/sshd-ed25519")
SKORREL_SSHD_ED25519_HOSTKEY=$("$scripts/demo-sshd.sh" hostkey "$work/sshd-ed25519")
SKORREL_SSHD_ED25519_LOG=$work/sshd-ed25519/sshd.log
{ read -r SKORREL_SSHD_USER; read -r SKORREL_SSHD_PASSWORD; } < <("$scripts/demo-sshd.sh" login)
export SKORREL_MARIADB_PORT SKORREL_SSHD_PORT SKORREL_SSHD_HOSTKEY SKORREL_SSHD_KEYS SKORREL_SSHD_LOG SKORREL_SSHD_USER \
  SKORREL_SSHD_PASSWORD SKORREL_SSHD_ED25519_PORT SKORREL_SSHD_ED25519_HOSTKEY SKORREL_SSHD_ED25519_LOG

status=0
wine "$@" || status=$?
if [ "$status" -ne 0 ]; then
  echo "== sshd's log" >&2
  tail -n 40 "$work/sshd/sshd.log" >&2 || true
fi
exit "$status"
