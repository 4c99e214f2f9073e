#!/usr/bin/env bash
# Runs the scrobbling and cover Wine tests against the three stand-ins of tools/scrobble_standin.py,
# each on a free port on 127.0.0.1, named to the tests in the environment and stopped however the
# tests end.
#   with_standins.sh TEST_PROGRAM [ARGS...]    (inside scripts/with-wine.sh, which provides wine)
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: with_standins.sh TEST_PROGRAM [ARGS...]" >&2; exit 2; }
standin=$(cd "$(dirname "$0")/../../../tools" && pwd)/scrobble_standin.py

work=$(mktemp -d "${TMPDIR:-/tmp}/skorrel-wine-scrobble.XXXXXX")
pids=()
stop_standins() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap stop_standins EXIT
trap 'exit 1' INT TERM

# start NAME VARIABLE ARGS...: starts one stand-in and sets VARIABLE to its port, the first line
# it prints.
start() {
  local name=$1 variable=$2 port=
  shift 2
  python3 "$standin" "$@" >"$work/$name.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do
    port=$(head -n 1 "$work/$name.log")
    [ -n "$port" ] && break
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.05
  done
  [ -n "$port" ] || { echo "the $name stand-in did not start" >&2; cat "$work/$name.log" >&2; exit 1; }
  printf -v "$variable" %s "$port"
}
start listenbrainz SKORREL_LISTENBRAINZ_PORT listenbrainz --token lb-token
start lastfm SKORREL_LASTFM_PORT lastfm --api-key lfm-key --secret lfm-secret --session-key lfm-session
start covers SKORREL_COVERS_PORT covers
export SKORREL_LISTENBRAINZ_PORT SKORREL_LASTFM_PORT SKORREL_COVERS_PORT

status=0
wine "$@" || status=$?
if [ "$status" -ne 0 ]; then
  for name in listenbrainz lastfm covers; do
    echo "== $name stand-in" >&2
    tail -n 40 "$work/$name.log" >&2 || true
  done
fi
exit "$status"
