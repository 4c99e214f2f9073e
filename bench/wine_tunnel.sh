#!/usr/bin/env bash
# The shipped tunnel's speed where it runs: one Wine client (tunnel_bench.exe) against an echo
# server on the host, through
#   - the plug-in's tunnel: the stand-in player with the real DLL and the build's libssh2.dll;
#   - a native ssh -L to the same sshd, as OpenSSH chooses its cipher;
#   - the same ssh -L forced to the cipher and MAC the plug-in's libssh2 negotiated;
#   - a plain TCP relay under Wine with no SSH (the floor).
# Prints a table of each and the plug-in's ratio to ssh -L. Run inside scripts/with-wine.sh.
set -euo pipefail
build=${1:-build/win32}
bin=$build/bin
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
source "$scripts/loopback.sh"
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  as_root "$scripts/demo-sshd.sh" stop "$work/sshd" >/dev/null 2>&1 || true
  as_root rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
win() { winepath -w "$1"; }

wait_accepts() {
  for _ in $(seq 300); do
    accepts "$1" && return 0
    sleep 0.1
  done
  echo "wine_tunnel.sh: nothing accepts on port $1" >&2
  return 1
}

# The target behind every path: sends back what it gets.
echo_port=$(free_port)
python3 -c '
import socket, sys, threading
def serve(c):
    c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    while True:
        data = c.recv(262144)
        if not data:
            break
        c.sendall(data)
    c.close()
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen(64)
while True:
    threading.Thread(target=serve, args=(s.accept()[0],), daemon=True).start()
' "$echo_port" &
pids+=($!)
wait_accepts "$echo_port" || exit 1

# At DEBUG sshd logs the cipher and MAC each session negotiated.
ssh_port=$(SKORREL_SSHD_LOGLEVEL=DEBUG as_root "$scripts/demo-sshd.sh" start "$work/sshd")
ssh_log=$work/sshd/sshd.log
keys=$(as_root "$scripts/demo-sshd.sh" keys "$work/sshd")
# ssh refuses a key file others may read.
as_root cat "$keys/ecdsa_pem" >"$work/id_ecdsa"
chmod 600 "$work/id_ecdsa"
{ read -r ssh_user; read -r ssh_password; } < <("$scripts/demo-sshd.sh" login)

# Each path is measured once per round, the rounds one after another, so that a burst of load on
# this machine falls on every path alike; the table shows each figure's median.
rounds=${SKORREL_BENCH_ROUNDS:-3}
# Appends the client's figures ("measure value" lines) to the path's file and prints them.
measure() {  # measure PATH PORT
  wine "$bin/tunnel_bench.exe" client "$2" | tr -d '\r' | tee -a "$work/$1.figures" | paste -sd' '
}
figure() {  # figure PATH NAME: the median
  sed -n "s/^$2 //p" "$work/$1.figures" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
# The cipher and MAC of the last session sshd logged from line $1 on.
negotiated() {
  as_root tail -n +"$1" "$ssh_log" | sed -n 's/.*kex: client->server cipher: \([^ ]*\) MAC: \([^ ]*\).*/\1 \2/p' | tail -n 1
}

echo "== the plug-in's tunnel ($(basename "$build"))"
tunnel_port=$(free_port)
key='HKCU\Software\Brenwick\Winamp Plugins\Skorrel\Global'
setting() { wine reg add "$key" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1; }
wine reg delete "$key" /f >/dev/null 2>&1 || true
for off in "MSN Active" "mIRC Active" "MySQL Active"; do setting "$off" REG_DWORD 0; done
setting "MySQL Server" REG_SZ "127.0.0.1:$echo_port"
setting "MySQL SSH" REG_DWORD 1
setting "SSH Active" REG_DWORD 1
setting "SSH Server" REG_SZ "127.0.0.1:$ssh_port"
setting "SSH UserName" REG_SZ "$ssh_user"
setting "SSH Password" REG_SZ "$ssh_password"
mkdir "$work/Plugins"
# SKORREL_BENCH_DLL and SKORREL_BENCH_LIBSSH2 put other builds in, to compare before and after.
cp "${SKORREL_BENCH_DLL:-$bin/gen_skorrel.dll}" "$work/Plugins/gen_skorrel.dll"
cp "$bin/skorrel_sqlite3.dll" "$work/Plugins/"
cp "${SKORREL_BENCH_LIBSSH2:-$build/windows-libs/libssh2.dll}" "$work/Plugins/libssh2.dll"
: >"$work/playlist.txt"
done_event=skorrel-bench-done-$$
printf 'waitevent %s 900000\nquit\n' "$done_event" >"$work/script.txt"
log_from=$(($(as_root wc -l <"$ssh_log") + 1))
SKORREL_TEST_TUNNEL_PORT=$tunnel_port wine "$bin/player.exe" --plugin "$(win "$work/Plugins")\\gen_skorrel.dll" \
  --playlist "$(win "$work/playlist.txt")" --script "$(win "$work/script.txt")" >/dev/null &
player=$!
pids+=("$player")
wait_accepts "$tunnel_port" || exit 1
measure plugin "$tunnel_port"
plugin_methods=$(negotiated "$log_from")

# ssh -L: the session stands before the first connection, as a user's would.
forward() {  # forward PORT SSH-OPTION...
  local port=$1
  shift
  ssh -N -v -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null \
    -o ExitOnForwardFailure=yes -i "$work/id_ecdsa" -p "$ssh_port" "$@" \
    -L "127.0.0.1:$port:127.0.0.1:$echo_port" "$ssh_user@127.0.0.1" 2>"$work/ssh-$port.log" &
  pids+=($!)
  wait_accepts "$port" || { cat "$work/ssh-$port.log" >&2; exit 1; }
}

echo "== ssh -L, OpenSSH's own choice"
port=$(free_port)
log_from=$(($(as_root wc -l <"$ssh_log") + 1))
forward "$port"
openssh_port=$port
measure openssh "$port"
openssh_methods=$(negotiated "$log_from")

echo "== ssh -L forced to the plug-in's cipher and MAC ($plugin_methods)"
read -r cipher mac <<<"$plugin_methods"
forced_options=(-c "$cipher")
[ "$mac" = "<implicit>" ] || forced_options+=(-m "$mac")
port=$(free_port)
log_from=$(($(as_root wc -l <"$ssh_log") + 1))
forward "$port" "${forced_options[@]}"
forced_port=$port
measure forced "$port"
forced_methods=$(negotiated "$log_from")

echo "== a plain relay under Wine, no SSH"
port=$(free_port)
wine "$bin/tunnel_bench.exe" relay "$port" "$echo_port" >/dev/null &
pids+=($!)
wait_accepts "$port" || exit 1
floor_port=$port
measure floor "$port"

for round in $(seq 2 "$rounds"); do
  echo "== round $round: the plug-in's tunnel, ssh -L, forced ssh -L, the plain relay"
  measure plugin "$tunnel_port"
  measure openssh "$openssh_port"
  measure forced "$forced_port"
  measure floor "$floor_port"
done
wine "$bin/tunnel_bench.exe" signal "$done_event"
wait "$player" || true

echo
echo "== the tunnel under Wine ($(basename "$build")): one Wine client, an echo server behind each path;"
echo "   medians of $rounds rounds"
echo "negotiated: plug-in $plugin_methods; ssh -L $openssh_methods; forced ssh -L $forced_methods"
row() {  # row LABEL NAME UNIT HIGHER-IS-BETTER
  local p o f w
  p=$(figure plugin "$2") o=$(figure openssh "$2") f=$(figure forced "$2") w=$(figure floor "$2")
  awk -v l="$1" -v u="$3" -v p="$p" -v o="$o" -v f="$f" -v w="$w" -v up="$4" 'BEGIN {
    printf "| %-34s | %10s %-4s | %10s | %5.2fx | %10s | %10s | %5.2fx |\n", l, p, u, o, up ? p / o : o / p, f, w,
      up ? p / w : w / p }'
}
printf '| %-34s | %-15s | %10s | %6s | %10s | %10s | %6s |\n' measure "plug-in's tunnel" "ssh -L" ratio \
  "forced -L" "Wine relay" ratio
row "64 MiB each way at once" bulk MB/s 1
row "100-byte round trip, median" rtt "us" 0
row "connect, one byte there and back" connect ms 0
echo "(ratios: the plug-in's speed over ssh -L's, then over the plain relay's; 1.00x is level. Connect:"
echo " the plug-in opens a new SSH session per connection, ssh -L's session already stands)"
