#pragma once
// libssh2, bound by name at run time: never linked, so a machine without it still runs the plug-in,
// and the Windows build needs none of its headers. The few types, constants and prototypes used are
// declared here as the library's interface defines them (cdecl on every system).
#include <cstddef>
#include <string>

#include "runtime/library.h"
#include "tunnel/socket_platform.h"

// Opaque to the plug-in; spelled as the library's header spells them, so both may be seen at once.
typedef struct _LIBSSH2_SESSION LIBSSH2_SESSION;
typedef struct _LIBSSH2_CHANNEL LIBSSH2_CHANNEL;

// The library's ssize_t: as wide as a pointer on every system it builds for.
using libssh2_ssize_t = std::ptrdiff_t;

// Keyboard-interactive prompts and answers, opaque here like the session (a prompt's layout differs
// between library versions); an answer is written through KbdintAnswer, whose layout is the same in
// all of them. The library frees an answer's text with the session's own free function.
typedef struct _LIBSSH2_USERAUTH_KBDINT_PROMPT LIBSSH2_USERAUTH_KBDINT_PROMPT;
typedef struct _LIBSSH2_USERAUTH_KBDINT_RESPONSE LIBSSH2_USERAUTH_KBDINT_RESPONSE;
struct KbdintAnswer {
  char* text;
  unsigned int length;
};
using LibSSH2PromptAnswerer = void (*)(const char* name, int nameLength, const char* instruction,
                                       int instructionLength, int promptCount,
                                       const LIBSSH2_USERAUTH_KBDINT_PROMPT* prompts,
                                       LIBSSH2_USERAUTH_KBDINT_RESPONSE* answers, void** abstract);

namespace ssh2 {
constexpr int kErrorAlloc = -6;
constexpr int kErrorSocketSend = -7;
constexpr int kErrorChannelClosed = -26;
constexpr int kErrorEagain = -37;
constexpr int kErrorBadUse = -39;
constexpr int kHostkeyHashSha256 = 3;
constexpr int kDisconnectByApplication = 11;
constexpr unsigned kChannelPacketDefault = 32768;
constexpr unsigned kChannelWindowDefault = 2 * 1024 * 1024;
constexpr int kCallbackSend = 5;
constexpr int kCallbackRecv = 6;
constexpr int kMethodHostkey = 1;
constexpr int kMethodCryptCs = 2;
constexpr int kMethodCryptSc = 3;
constexpr int kErrorFile = -16;
constexpr int kErrorAuthenticationFailed = -18;
// Not libssh2's: the host key differs from the pinned one.
constexpr int kErrorHostKeyRefused = -1000;
}  // namespace ssh2

// Every bound function in binding order: X(return type, name, parameter list).
#define SKORREL_LIBSSH2_ENTRIES(X)                                                                         \
  X(int, libssh2_init, (int flags))                                                                        \
  X(void, libssh2_exit, ())                                                                                \
  X(const char*, libssh2_version, (int required_version))                                                  \
  X(LIBSSH2_SESSION*, libssh2_session_init_ex,                                                             \
    (void* (*alloc)(std::size_t, void**), void (*free)(void*, void**),                                     \
     void* (*realloc)(void*, std::size_t, void**), void* abstract))                                        \
  X(int, libssh2_session_free, (LIBSSH2_SESSION * session))                                                \
  X(int, libssh2_session_handshake, (LIBSSH2_SESSION * session, socket_t sock))                            \
  X(int, libssh2_session_disconnect_ex,                                                                    \
    (LIBSSH2_SESSION * session, int reason, const char* description, const char* lang))                    \
  X(void, libssh2_session_set_blocking, (LIBSSH2_SESSION * session, int blocking))                         \
  X(void, libssh2_session_set_timeout, (LIBSSH2_SESSION * session, long timeout))                          \
  X(int, libssh2_session_last_error,                                                                       \
    (LIBSSH2_SESSION * session, char** errmsg, int* errmsg_len, int want_buf))                             \
  X(const char*, libssh2_hostkey_hash, (LIBSSH2_SESSION * session, int hash_type))                         \
  X(const char*, libssh2_session_hostkey, (LIBSSH2_SESSION * session, std::size_t * len, int* type))       \
  X(int, libssh2_session_method_pref, (LIBSSH2_SESSION * session, int method_type, const char* prefs))     \
  X(int, libssh2_session_supported_algs, (LIBSSH2_SESSION * session, int method_type, const char*** algs)) \
  X(const char*, libssh2_session_methods, (LIBSSH2_SESSION * session, int method_type))                    \
  X(void, libssh2_free, (LIBSSH2_SESSION * session, void* ptr))                                            \
  X(int, libssh2_userauth_publickey_fromfile_ex,                                                           \
    (LIBSSH2_SESSION * session, const char* username, unsigned int username_len, const char* publickey,    \
     const char* privatekey, const char* passphrase))                                                      \
  X(int, libssh2_userauth_password_ex,                                                                     \
    (LIBSSH2_SESSION * session, const char* username, unsigned int username_len, const char* password,     \
     unsigned int password_len,                                                                            \
     void (*passwd_change_cb)(LIBSSH2_SESSION * session, char** newpw, int* newpw_len, void** abstract)))  \
  X(char*, libssh2_userauth_list,                                                                          \
    (LIBSSH2_SESSION * session, const char* username, unsigned int username_len))                          \
  X(int, libssh2_userauth_keyboard_interactive_ex,                                                         \
    (LIBSSH2_SESSION * session, const char* username, unsigned int username_len,                           \
     LibSSH2PromptAnswerer response_callback))                                                             \
  X(LIBSSH2_CHANNEL*, libssh2_channel_open_ex,                                                             \
    (LIBSSH2_SESSION * session, const char* channel_type, unsigned int channel_type_len,                   \
     unsigned int window_size, unsigned int packet_size, const char* message, unsigned int message_len))   \
  X(libssh2_ssize_t, libssh2_channel_read_ex,                                                              \
    (LIBSSH2_CHANNEL * channel, int stream_id, char* buf, std::size_t buflen))                             \
  X(libssh2_ssize_t, libssh2_channel_write_ex,                                                             \
    (LIBSSH2_CHANNEL * channel, int stream_id, const char* buf, std::size_t buflen))                       \
  X(int, libssh2_channel_eof, (LIBSSH2_CHANNEL * channel))                                                 \
  X(unsigned long, libssh2_channel_window_read_ex,                                                         \
    (LIBSSH2_CHANNEL * channel, unsigned long* read_avail, unsigned long* window_size_initial))            \
  X(int, libssh2_channel_free, (LIBSSH2_CHANNEL * channel))                                                \
  X(void*, libssh2_session_callback_set, (LIBSSH2_SESSION * session, int cbtype, void* callback))

// Bound when the library has them, null when not: the caller falls back on another way.
#define SKORREL_LIBSSH2_OPTIONAL_ENTRIES(X)                                                            \
  X(int, libssh2_userauth_publickey_frommemory,                                                        \
    (LIBSSH2_SESSION * session, const char* username, std::size_t username_len,                        \
     const char* publickeyfiledata, std::size_t publickeyfiledata_len, const char* privatekeyfiledata, \
     std::size_t privatekeyfiledata_len, const char* passphrase))

// One entry per bound function, named after it; null until bound.
struct LibSSH2Entries {
#define SKORREL_LIBSSH2_ENTRY(ret, name, params) ret(*name) params = nullptr;
  SKORREL_LIBSSH2_ENTRIES(SKORREL_LIBSSH2_ENTRY)
  SKORREL_LIBSSH2_OPTIONAL_ENTRIES(SKORREL_LIBSSH2_ENTRY)
#undef SKORREL_LIBSSH2_ENTRY
};

// The bound entries. Read them only while the library is loaded; they never change then.
const LibSSH2Entries& LibSSH2();

// Loads the library, binds every entry and runs libssh2_init, once; true when it is loaded. A
// library that lacks an entry that is not optional counts as missing. A failure leaves nothing behind.
bool LoadLibSSH2();
// Runs libssh2_exit and releases the library. Call only once no session is left.
void UnloadLibSSH2();

// Opens the library file: "libssh2.dll" on Windows, beside the plug-in first and then on the
// usual search path; "libssh2.so.1" elsewhere.
Library OpenLibSSH2File();
// Where OpenLibSSH2File looks, in order, for the log line that says it found nothing.
std::string LibSSH2Places();
using LibSSH2Opener = Library (*)();
// Replaces how the file is opened, for tests. Returns the previous opener. Call only while no
// thread is loading.
LibSSH2Opener SetLibSSH2Opener(LibSSH2Opener opener);
