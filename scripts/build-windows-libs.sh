#!/usr/bin/env bash
# Builds the Windows DLLs of the outside libraries the plug-in loads by name, from Debian's own
# source packages, and copies them into OUTDIR:
#   libssh2.dll   libssh2 (trixie) with mbedTLS (trixie) linked in
#   libmysql.dll  MariaDB Connector/C, from the libmariadb/ folder of bookworm's mariadb
# Each DLL is built once per architecture and kept under build/windows-libs/ARCH; the sources
# are shared under build/windows-libs/src. The machine's apt configuration is left alone.
#
# build-windows-libs.sh --mariadb-origin prints the Debian source package and version that
# libmysql.dll is built from, which the release names in its source offer.
set -euo pipefail
shopt -s inherit_errexit

usage="usage: build-windows-libs.sh OUTDIR i686|x86_64 [libssh2|libmysql|all] | --mariadb-origin"
if [ "${1:-}" = --mariadb-origin ]; then
  arch=origin libs=()
else
  [[ $# -ge 2 && $# -le 3 ]] || { echo "$usage" >&2; exit 2; }
  arch=$2
  case $arch in i686 | x86_64) ;; *) echo "$usage" >&2; exit 2 ;; esac
  case ${3:-all} in
    libssh2 | libmysql) libs=("$3") ;;
    all) libs=(libssh2 libmysql) ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
  mkdir -p "$1"
  outdir=$(cd "$1" && pwd)
fi
cd "$(dirname "$0")/.."
repo=$PWD
top=$repo/build/windows-libs
src=$top/src
cache=$top/$arch
log=$cache/build.log
if [ "$arch" = origin ]; then
  log=$top/origin.log
  mkdir -p "$src"
else
  mkdir -p "$src" "$cache"
fi

fail() { echo "build-windows-libs: $*" >&2; exit 1; }
# Runs a step with its output in the log, so that a failure is one line naming the log.
run() {
  local what=$1
  shift
  "$@" >>"$log" 2>&1 || fail "$arch: $what failed (see $log)"
}

triple=$arch-w64-mingw32
compilers=("$triple-gcc-posix" "$triple-windres")
[ "$arch" = origin ] && compilers=()
for tool in cmake ninja apt-get dpkg-source patch python3 "${compilers[@]}"; do
  command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/install-deps.sh"
done

# Two runs at once (one per architecture) would fetch the same sources into the same folder.
lock() {
  exec 9>"$top/lock"
  flock 9
}
[ "$arch" = origin ] || lock

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# fetch SUITE PACKAGE...: downloads Debian source packages into $tmp/dl through a private source
# list on the machine's own Debian mirror.
fetch() {
  local suite=$1 mirror apt=$tmp/apt
  shift
  mirror=${DEBIAN_MIRROR:-$(grep -hsvE '^[[:space:]]*#' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources | grep -oE '(https?|file):/+[^[:space:]]*/debian/?([[:space:]]|$)' |
    head -1 | tr -d '[:space:]')} || true
  [ -n "$mirror" ] || fail "no Debian mirror found in /etc/apt/sources.list*; set DEBIAN_MIRROR"
  rm -rf "$apt" "$tmp/dl"
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$tmp/dl"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] ${mirror%/} $suite main" \
    >"$apt/sources.list"
  local opts=(-q -o Dir::Etc::sourcelist="$apt/sources.list" -o Dir::Etc::sourceparts=-
    -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o APT::Sandbox::User=root)
  run "apt-get update ($suite sources)" apt-get "${opts[@]}" update --error-on=any
  (cd "$tmp/dl" && run "apt-get source $*" apt-get "${opts[@]}" source --download-only "$@")
}

# Each source folder appears whole or not at all, so an interrupted run starts it again.
sources_ssh() {
  [ -d "$src/libssh2" ] && [ -d "$src/mbedtls" ] && return
  fetch trixie libssh2 mbedtls
  rm -rf "$src/libssh2" "$src/mbedtls" "$src"/*.part
  run "unpacking libssh2" dpkg-source --no-copy -x "$tmp"/dl/libssh2_*.dsc "$src/libssh2.part"
  run "unpacking mbedtls" dpkg-source --no-copy -x "$tmp"/dl/mbedtls_*.dsc "$src/mbedtls.part"
  # As Debian builds it: libssh2 shares one random generator between all sessions, and the
  # plug-in runs a session on each relay thread.
  (cd "$src/mbedtls.part" && run "configuring mbedtls threads" python3 scripts/config.py set MBEDTLS_THREADING_C &&
    run "configuring mbedtls threads" python3 scripts/config.py set MBEDTLS_THREADING_PTHREAD)
  mv "$src/mbedtls.part" "$src/mbedtls"
  mv "$src/libssh2.part" "$src/libssh2"
}

sources_mysql() {
  [ -d "$src/libmariadb" ] && return
  fetch bookworm mariadb
  local tarball
  tarball=$(echo "$tmp"/dl/mariadb_*.orig.tar.gz)
  [ -f "$tarball" ] || fail "no mariadb source tarball was downloaded"
  local top_dir
  top_dir=$(basename "$tarball" .orig.tar.gz | tr _ -)
  rm -rf "$src/libmariadb.part"
  mkdir -p "$src/libmariadb.part"
  run "unpacking libmariadb" tar -xzf "$tarball" -C "$src/libmariadb.part" --strip-components=2 "$top_dir/libmariadb"
  # Our one change, which the release ships as part of its source offer.
  run "patching libmariadb" patch -d "$src/libmariadb.part" -p1 -i "$repo/scripts/libmariadb.patch"
  dsc_origin "$tmp"/dl/mariadb_*.dsc >"$src/libmariadb.part/.debian-origin"
  mv "$src/libmariadb.part" "$src/libmariadb"
}

# The package, version and suite that a downloaded .dsc describes.
dsc_origin() { echo "mariadb $(sed -n 's/^Version: //p' "$1") (Debian bookworm)"; }

mariadb_origin() {
  local record=$src/libmariadb/.debian-origin
  [ -s "$record" ] && { cat "$record"; return; }
  lock
  [ -d "$src/libmariadb" ] || sources_mysql
  if [ ! -s "$record" ]; then
    # Sources unpacked before the origin was recorded: bookworm's current version names them.
    fetch bookworm --dsc-only mariadb
    dsc_origin "$tmp"/dl/mariadb_*.dsc >"$record"
  fi
  cat "$record"
}

# No libgcc or winpthread DLL beside ours: everything but the system's import libraries is static.
cmake_windows=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR="$arch"
  -DCMAKE_C_COMPILER="$triple-gcc-posix" -DCMAKE_RC_COMPILER="$triple-windres"
  -DCMAKE_FIND_ROOT_PATH="/usr/$triple" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER
  -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY
  -DCMAKE_SHARED_LINKER_FLAGS="-static -static-libgcc")

# cmake_build NAME SOURCE OPTION...: configures, builds with two jobs at most and installs.
cmake_build() {
  local name=$1 source=$2
  shift 2
  run "configuring $name" cmake -S "$source" -B "$cache/build-$name" "${cmake_windows[@]}" \
    -DCMAKE_INSTALL_PREFIX="$cache/prefix" "$@"
  run "building $name" cmake --build "$cache/build-$name" -j 2
  run "installing $name" cmake --install "$cache/build-$name"
}

build_libssh2() {
  sources_ssh
  cmake_build mbedtls "$src/mbedtls" -DENABLE_PROGRAMS=OFF -DENABLE_TESTING=OFF -DGEN_FILES=OFF \
    -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DUSE_SHARED_MBEDTLS_LIBRARY=OFF -DMBEDTLS_FATAL_WARNINGS=OFF
  # The standard libraries come last on the link line, after libmbedcrypto.a that needs them.
  cmake_build libssh2 "$src/libssh2" -DCRYPTO_BACKEND=mbedTLS \
    -DMBEDTLS_INCLUDE_DIR="$cache/prefix/include" -DMBEDCRYPTO_LIBRARY="$cache/prefix/lib/libmbedcrypto.a" \
    -DCMAKE_C_STANDARD_LIBRARIES="-lbcrypt -lpthread" -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=OFF \
    -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_ZLIB_COMPRESSION=OFF
  built=$cache/prefix/bin/libssh2.dll
}

build_libmysql() {
  sources_mysql
  local plugins=() p
  for p in caching_sha2_password sha256_password client_ed25519 dialog mysql_clear_password \
    auth_gssapi_client pvio_shmem; do
    plugins+=("-DCLIENT_PLUGIN_${p^^}=STATIC")
  done
  cmake_build libmariadb "$src/libmariadb" -DWITH_UNIT_TESTS=OFF -DWITH_CURL=OFF -DWITH_EXTERNAL_ZLIB=OFF \
    -DWITH_SSL=SCHANNEL "${plugins[@]}"
  built=$cache/build-libmariadb/libmariadb/libmariadb.dll
}

if [ "$arch" = origin ]; then
  mariadb_origin
  exit
fi

for lib in "${libs[@]}"; do
  if [ ! -f "$cache/$lib.dll" ]; then
    start=$SECONDS
    echo "build-windows-libs: building $lib.dll for $arch (log: $log)"
    : >"$log"
    "build_$lib"
    cp "$built" "$tmp/$lib.dll"
    run "checking $lib.dll" "$repo/tests/wine/check_windows_lib.sh" "$arch" "$tmp/$lib.dll"
    mv "$tmp/$lib.dll" "$cache/$lib.dll"
    echo "build-windows-libs: $lib.dll for $arch built in $((SECONDS - start)) s"
  fi
  [ "$outdir" = "$cache" ] || cp "$cache/$lib.dll" "$outdir/"
done
