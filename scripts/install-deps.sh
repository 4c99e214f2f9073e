#!/usr/bin/env bash
# Installs what the builds, the tests and the demo need from Debian's packages. Idempotent: does
# nothing when everything is there already.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libbenchmark-dev
  clang libclang-rt-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb xauth fonts-wine
  mariadb-server libmariadb3 libmariadb-dev
  libssh2-1-dev openssh-server
  python3 nlohmann-json3-dev
  libsqlite3-dev
  # The outbox benchmark makes its backlog with the command-line tool.
  sqlite3
  # The Windows builds make their libraries from Debian's sources; SQLite's amalgamation needs tclsh.
  dpkg-dev tcl
  nsis zip unzip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# wine32 lives in the i386 architecture; it installs even where i386 code cannot run.
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
# A mirror caught mid-sync fails some lists ("Mirror sync in progress?"); the lists that did arrive
# are enough to go on with.
$sudo apt-get update -qq || echo "install-deps: apt-get update failed for some lists; going on with the rest"
install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >/dev/null
}
if ! install; then
  # Multi-arch pairs need one version: when one architecture's list of the security or updates suite
  # is missing, amd64 resolves to a version i386 cannot see. The machine's own suite has both.
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$suite" ] || exit 1
  echo "install-deps: the packages could not be installed as resolved; trying again from $suite alone"
  install -t "$suite"
fi
