#!/usr/bin/env bash
# The outside libraries we build for Windows must load on a bare Windows beside the plug-in: they
# import nothing but the system's own DLLs, and export undecorated every entry the plug-in binds.
# On i686 the client library's entries must also be __stdcall, as the binding calls them.
# usage: check_windows_lib.sh i686|x86_64 DIR/libssh2.dll|DIR/libmysql.dll
set -euo pipefail
arch=$1 dll=$2
objdump=$arch-w64-mingw32-objdump
source "$(dirname "$0")/pe_dll.sh"
read_pe "$objdump" "$dll"

case $(basename "$dll") in
  libssh2.dll)
    needed=(libssh2_init libssh2_exit libssh2_session_init_ex libssh2_session_handshake libssh2_hostkey_hash
      libssh2_userauth_password_ex libssh2_channel_direct_tcpip_ex libssh2_channel_read_ex
      libssh2_channel_write_ex libssh2_session_last_error libssh2_session_callback_set) ;;
  libmysql.dll)
    needed=(mysql_server_init mysql_init mysql_options mysql_real_connect mysql_error mysql_get_host_info
      mysql_get_server_info mysql_query mysql_store_result mysql_num_rows mysql_fetch_field
      mysql_free_result mysql_close mysql_thread_end mysql_server_end) ;;
  *) echo "usage: check_windows_lib.sh i686|x86_64 DIR/libssh2.dll|DIR/libmysql.dll" >&2; exit 2 ;;
esac

status=0
for name in "${needed[@]}"; do
  if ! grep -qx "$name" <<<"$exports"; then
    echo "$name is not exported under that name"
    status=1
  fi
done
if [[ $arch == i686 && $(basename "$dll") == libmysql.dll ]] && ! grep -q ' _mysql_init@4$' <<<"$("$objdump" -t "$dll")"; then
  echo "mysql_init is not __stdcall"
  status=1
fi
check_imports '^(kernel32|user32|advapi32|gdi32|shell32|ole32|msvcrt|ws2_32|bcrypt|crypt32|secur32|shlwapi)\.dll$' || status=1
echo "imports: $(tr '\n' ' ' <<<"$imports")"
echo "exports: $(wc -l <<<"$exports") names"
exit $status
