#!/usr/bin/env bash
# A throw-away OpenSSH server for the tunnel, all of it inside one directory (needs root: password
# login takes a real system user).
#   demo-sshd.sh start DIR     make the test user, a host key and a config in DIR, start sshd on a
#                              free port on 127.0.0.1 with password login and TCP forwarding, and
#                              print the port
#                              (SKORREL_SSHD_LOGLEVEL sets its LogLevel, VERBOSE by default;
#                              SKORREL_SSHD_HOSTKEY_TYPE its one host key's type, ecdsa by default)
#   demo-sshd.sh login         print the test user's name and password, one a line
#   demo-sshd.sh hostkey DIR   print the host key's fingerprint as ssh-keygen -l shows it
#   demo-sshd.sh keys DIR      make client keys of every kind in DIR/keys, let each log in, and
#                              print the folder (the demo uses DIR/keys/ed25519_locked)
#   demo-sshd.sh stop DIR      stop sshd and every session process it started
set -euo pipefail

# The same account the native tunnel tests use.
user=skorrelssh
password="tunnel pw'1"

usage() { echo "usage: demo-sshd.sh start|hostkey|stop DIR, or demo-sshd.sh login" >&2; exit 2; }
[ $# -ge 1 ] || usage
command=$1
if [ "$command" = login ]; then
  printf '%s\n%s\n' "$user" "$password"
  exit 0
fi
[ $# -eq 2 ] || usage
dir=$(realpath -m "$2")

source "$(dirname "${BASH_SOURCE[0]}")/loopback.sh"

# useradd and chpasswd refuse to run while another holds the account files: test runs side by
# side take turns on the lock the native fixture takes too.
ensure_user() {
  (
    flock 9
    id "$user" >/dev/null 2>&1 || useradd --no-create-home --shell /bin/sh "$user"
    printf '%s:%s\n' "$user" "$password" | chpasswd
  ) 9>/tmp/skorrel-sshd-user.lock
}

start() {
  [ "$(id -u)" -eq 0 ] || { echo "demo-sshd.sh: sshd with password login needs root" >&2; exit 1; }
  ensure_user
  # sshd's privilege separation needs this folder.
  mkdir -p /run/sshd "$dir"
  chmod 755 /run/sshd "$dir"
  # One host key, of the type SKORREL_SSHD_HOSTKEY_TYPE names (ECDSA by default), so that the key
  # the client meets is the one a test pins.
  [ -f "$dir/host_key" ] || ssh-keygen -q -t "${SKORREL_SSHD_HOSTKEY_TYPE:-ecdsa}" -N '' -f "$dir/host_key"

  # The port was free a moment ago; should another program take it first, sshd dies and another
  # port is tried.
  local port pid
  for _ in 1 2 3 4 5; do
    port=$(free_port)
    cat >"$dir/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $dir/host_key
PidFile $dir/sshd.pid
UsePAM no
PasswordAuthentication yes
KbdInteractiveAuthentication no
PubkeyAuthentication yes
AuthorizedKeysFile $dir/authorized_keys
PermitRootLogin no
AllowUsers $user
AllowTcpForwarding yes
PermitOpen any
StrictModes no
UseDNS no
MaxStartups 200
LogLevel ${SKORREL_SSHD_LOGLEVEL:-VERBOSE}
EOF
    # Absolute paths throughout: with a relative log path every connection dies silently.
    setsid /usr/sbin/sshd -D -f "$dir/sshd_config" -E "$dir/sshd.log" </dev/null >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 300); do
      kill -0 "$pid" 2>/dev/null || break
      if accepts "$port"; then
        echo "$pid" >"$dir/server.pid"
        echo "$port"
        return 0
      fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "sshd did not start; its log:" >&2
  cat "$dir/sshd.log" >&2 2>/dev/null || true
  exit 1
}

# sshd and, below it, one process tree per connection: each connection's processes start a session
# of their own, so they are found as the server's descendants rather than by its process group.
descendants() {
  local child
  for child in $(ps -o pid= --ppid "$1"); do
    echo "$child"
    descendants "$child"
  done
}

stop() {
  local pid
  pid=$(cat "$dir/server.pid" 2>/dev/null || true)
  [ -n "$pid" ] || { echo "no server recorded in $dir" >&2; return 0; }
  # shellcheck disable=SC2046
  kill $(descendants "$pid") "$pid" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || { rm -f "$dir/server.pid"; return 0; }
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$dir/server.pid"
}

hostkey() { ssh-keygen -l -E sha256 -f "$dir/host_key.pub" | cut -d' ' -f2; }

# One key of each kind and format users bring, plain and with the passphrase "key pass"; every
# one may log in, so what fails is the client's reading of it. The _nopub keys lack their .pub file.
keys() {
  local keys=$dir/keys
  mkdir -p "$keys"
  make_key() {  # name type format passphrase
    [ -f "$keys/$1" ] || ssh-keygen -q -t "$2" -m "$3" -N "$4" -C "$1" -f "$keys/$1"
    cat "$keys/$1.pub" >>"$dir/authorized_keys"
  }
  : >"$dir/authorized_keys"
  make_key ecdsa_pem ecdsa PEM ''
  make_key ecdsa_pem_locked ecdsa PEM 'key pass'
  make_key ecdsa_openssh ecdsa RFC4716 ''
  make_key ecdsa_openssh_locked ecdsa RFC4716 'key pass'
  make_key rsa_pem rsa PEM ''
  make_key rsa_pem_locked rsa PEM 'key pass'
  make_key rsa_openssh rsa RFC4716 ''
  make_key rsa_openssh_locked rsa RFC4716 'key pass'
  make_key ed25519 ed25519 RFC4716 ''
  make_key ed25519_locked ed25519 RFC4716 'key pass'
  make_key ecdsa_nopub ecdsa PEM ''
  make_key ed25519_nopub ed25519 RFC4716 'key pass'
  rm -f "$keys/ecdsa_nopub.pub" "$keys/ed25519_nopub.pub"
  chmod 644 "$keys"/*
  echo "$keys"
}

case $command in
  start) start ;;
  stop) stop ;;
  hostkey) hostkey ;;
  keys) keys ;;
  *) usage ;;
esac
