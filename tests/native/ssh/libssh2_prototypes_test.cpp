// The binding declares libssh2's prototypes itself, since the Windows build has no headers for it.
// A wrong one corrupts the stack at the first call; here each is held against the real header.
#include <libssh2.h>

#include <cstddef>
#include <type_traits>

#include "tunnel/libssh2_binding.h"

#define SKORREL_CHECK_PROTOTYPE(ret, name, params)                                 \
  static_assert(std::is_same_v<decltype(LibSSH2Entries::name), decltype(&::name)>, \
                #name " differs from libssh2.h");
SKORREL_LIBSSH2_ENTRIES(SKORREL_CHECK_PROTOTYPE)
SKORREL_LIBSSH2_OPTIONAL_ENTRIES(SKORREL_CHECK_PROTOTYPE)
#undef SKORREL_CHECK_PROTOTYPE

static_assert(ssh2::kErrorAlloc == LIBSSH2_ERROR_ALLOC);
static_assert(ssh2::kErrorChannelClosed == LIBSSH2_ERROR_CHANNEL_CLOSED);
static_assert(ssh2::kErrorEagain == LIBSSH2_ERROR_EAGAIN);
static_assert(ssh2::kErrorBadUse == LIBSSH2_ERROR_BAD_USE);
static_assert(ssh2::kErrorSocketSend == LIBSSH2_ERROR_SOCKET_SEND);
static_assert(ssh2::kCallbackSend == LIBSSH2_CALLBACK_SEND);
static_assert(ssh2::kCallbackRecv == LIBSSH2_CALLBACK_RECV);
static_assert(ssh2::kHostkeyHashSha256 == LIBSSH2_HOSTKEY_HASH_SHA256);
static_assert(ssh2::kDisconnectByApplication == SSH_DISCONNECT_BY_APPLICATION);
static_assert(ssh2::kMethodHostkey == LIBSSH2_METHOD_HOSTKEY);
static_assert(ssh2::kMethodCryptCs == LIBSSH2_METHOD_CRYPT_CS);
static_assert(ssh2::kMethodCryptSc == LIBSSH2_METHOD_CRYPT_SC);
static_assert(ssh2::kErrorFile == LIBSSH2_ERROR_FILE);
static_assert(ssh2::kErrorAuthenticationFailed == LIBSSH2_ERROR_AUTHENTICATION_FAILED);
static_assert(ssh2::kChannelPacketDefault == LIBSSH2_CHANNEL_PACKET_DEFAULT);
static_assert(std::is_same_v<libssh2_ssize_t, ssize_t>);
static_assert(sizeof(KbdintAnswer) == sizeof(LIBSSH2_USERAUTH_KBDINT_RESPONSE));
static_assert(offsetof(KbdintAnswer, length) == offsetof(LIBSSH2_USERAUTH_KBDINT_RESPONSE, length));
