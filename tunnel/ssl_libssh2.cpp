#include "tunnel/ssl_libssh2.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "diag/globals.h"
#include "runtime/read_file.h"
#include "tunnel/cipher_order.h"
#include "tunnel/key_file.h"

namespace {

// Handshake, login and channel each wait at most this long for the server.
constexpr long kConnectTimeoutMs = 30000;
// Closing waits this long for the server's answers before the connection is cut.
constexpr long kCloseTimeoutMs = 2000;
// What a call put on the wire is sent within this time or the session fails.
constexpr auto kFlushTimeout = std::chrono::seconds(30);
// libssh2's and OpenSSH's own default. A larger one lets sshd queue that much for us, and its CPU
// per byte sent grows several times over: a 16 MiB window cut downloads to a fifth.
constexpr unsigned kChannelWindow = ssh2::kChannelWindowDefault;
// Far above any key file, which is a few kilobytes; a larger file is not a key.
constexpr std::size_t kKeyFileLimit = 1024 * 1024;

std::string Base64WithoutPadding(const unsigned char* data, std::size_t size) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < size; i += 3) {
    const unsigned long group = static_cast<unsigned long>(data[i]) << 16 |
                                (i + 1 < size ? static_cast<unsigned long>(data[i + 1]) << 8 : 0) |
                                (i + 2 < size ? data[i + 2] : 0);
    const std::size_t count = std::min<std::size_t>(size - i, 3) + 1;
    for (std::size_t k = 0; k < count; ++k) text += digits[(group >> (18 - 6 * k)) & 63];
  }
  return text;
}

// The key type, as the pin names it, of a host key algorithm as libssh2 names it.
std::string HostKeyTypeOf(std::string_view method) {
  if (method.rfind("ecdsa-", 0) == 0) return "ECDSA";
  if (method.rfind("ssh-ed25519", 0) == 0) return "ED25519";
  if (method.rfind("rsa-", 0) == 0 || method.rfind("ssh-rsa", 0) == 0) return "RSA";
  if (method.rfind("ssh-dss", 0) == 0) return "DSA";
  return "";
}

// The methods of a kind the library supports, in its own order; empty when it does not say. A
// preference names only these: some versions mishandle a list they must strip.
std::vector<std::string> SupportedMethods(LIBSSH2_SESSION* session, int type) {
  const LibSSH2Entries& api = LibSSH2();
  const char** supported = nullptr;
  const int count = api.libssh2_session_supported_algs(session, type, &supported);
  if (count <= 0 || !supported) return {};
  std::vector<std::string> methods(supported, supported + count);
  api.libssh2_free(session, static_cast<void*>(supported));
  return methods;
}

// The library's own host key algorithms with the pinned type's moved to the front, so that a
// server that has that type is asked for it whatever either side's default order: a new library
// version does not look like a new key.
std::string PreferredHostKeyMethods(LIBSSH2_SESSION* session, const std::string& pinnedType) {
  std::vector<std::string> methods = SupportedMethods(session, ssh2::kMethodHostkey);
  std::stable_partition(methods.begin(), methods.end(),
                        [&](const std::string& method) { return HostKeyTypeOf(method) == pinnedType; });
  std::string list;
  for (const std::string& method : methods) list += (list.empty() ? "" : ",") + method;
  return list;
}

// The key kind as ssh-keygen names it.
const char* HostKeyKind(int type) {
  switch (type) {
    case 1:
      return "RSA";
    case 2:
      return "DSA";
    case 3:
    case 4:
    case 5:
      return "ECDSA";
    case 6:
      return "ED25519";
    default:
      return "unknown";
  }
}

void AppendUint32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void AppendString(std::string& out, const std::string& text) {
  AppendUint32(out, static_cast<std::uint32_t>(text.size()));
  out += text;
}

// The direct-tcpip request: target host and port, then the originator, which no server checks.
std::string DirectTcpipRequest(const std::string& host, const std::string& port) {
  std::string request;
  AppendString(request, host);
  AppendUint32(request, static_cast<std::uint32_t>(std::strtoul(port.c_str(), nullptr, 10)));
  AppendString(request, "127.0.0.1");
  AppendUint32(request, 22);
  return request;
}

// The session's memory comes from this module, so that an answer this module allocates is freed by
// the library with the same allocator, whatever run-time library each was built with.
void* Allocate(std::size_t size, void**) { return std::malloc(size); }
void Release(void* block, void**) { std::free(block); }
void* Reallocate(void* block, std::size_t size, void**) { return std::realloc(block, size); }

// Whether the comma-separated method list names method.
bool Offers(const char* methods, std::string_view method) {
  std::string_view rest = methods ? methods : "";
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    if (rest.substr(0, comma) == method) return true;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

// Every prompt of a keyboard-interactive login is answered with the password: PAM's usual single
// "Password:" prompt among them.
void AnswerWithPassword(const char*, int, const char*, int, int promptCount,
                        const LIBSSH2_USERAUTH_KBDINT_PROMPT*, LIBSSH2_USERAUTH_KBDINT_RESPONSE* answers,
                        void** abstract) {
  const std::string& password = static_cast<TSSLLibSSH2*>(*abstract)->Password;
  auto* out = reinterpret_cast<KbdintAnswer*>(answers);
  for (int i = 0; i < promptCount; ++i) {
    out[i].text = static_cast<char*>(std::malloc(password.size() + 1));
    out[i].length = 0;
    if (!out[i].text) continue;
    std::memcpy(out[i].text, password.c_str(), password.size() + 1);
    out[i].length = static_cast<unsigned>(password.size());
  }
}

}  // namespace

bool StartLibSSH2() {
  if (!LoadLibSSH2()) {
    LogDebug("TSSLLibSSH2 - libssh2 could not be loaded (looked for " + LibSSH2Places() +
             "): every tunnel connection will be closed");
    return false;
  }
  DefaultSSLClass.store(&SSLClassOf<TSSLLibSSH2>);
  return true;
}

void StopLibSSH2() {
  DefaultSSLClass.store(&SSLClassOf<TSSLNone>);
  UnloadLibSSH2();
}

TSSLLibSSH2::~TSSLLibSSH2() { ReleaseSession(); }

libssh2_ssize_t TSSLLibSSH2::ReceiveFromWire(socket_t socket, void* buffer, std::size_t length, int flags,
                                             void** abstract) {
  return static_cast<TSSLLibSSH2*>(*abstract)->wire_.Receive(socket, static_cast<char*>(buffer), length,
                                                             flags);
}

libssh2_ssize_t TSSLLibSSH2::SendToWire(socket_t socket, const void* buffer, std::size_t length, int flags,
                                        void** abstract) {
  return static_cast<TSSLLibSSH2*>(*abstract)->wire_.Send(socket, static_cast<const char*>(buffer), length,
                                                          flags);
}

std::string TSSLLibSSH2::LibraryVersion() {
  const char* version = LibSSH2().libssh2_version ? LibSSH2().libssh2_version(0) : nullptr;
  return version ? std::string("libssh2 ") + version : "";
}

bool TSSLLibSSH2::Fail(long status, const std::string& text) {
  lastErrorCode_ = static_cast<std::int32_t>(status);
  lastErrorText_ = text;
  return false;
}

bool TSSLLibSSH2::RecordStatus(long status) {
  lastErrorCode_ = static_cast<std::int32_t>(status);
  lastErrorText_.clear();
  if (status == 0) return true;
  char* message = nullptr;
  int length = 0;
  if (session_) LibSSH2().libssh2_session_last_error(session_.get(), &message, &length, 0);
  lastErrorText_ = message && length > 0 ? std::string(message, static_cast<std::size_t>(length))
                                         : "libssh2 error " + std::to_string(status);
  return false;
}

bool TSSLLibSSH2::Connect() {
  const socket_t socket = Owner().SocketHandle();
  if (socket == kInvalidSocket) return false;
  ReleaseSession();
  lastErrorCode_ = 0;
  lastErrorText_.clear();
  if (SSLType == TSSLType::LT_SSLv2) return false;
  if (SSLType != TSSLType::LT_SSHv2) return NotImplemented();

  const LibSSH2Entries& api = LibSSH2();
  session_.reset(api.libssh2_session_init_ex(&Allocate, &Release, &Reallocate, this));
  if (!session_) return Fail(ssh2::kErrorAlloc, "Unable to create an SSH session");
  LIBSSH2_SESSION* session = session_.get();
  api.libssh2_session_set_blocking(session, 1);
  api.libssh2_session_set_timeout(session, kConnectTimeoutMs);
  // Small requests and replies leave at once instead of waiting for the previous one's ACK.
  const int on = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  wire_ = SshWire();
  api.libssh2_session_callback_set(session, ssh2::kCallbackRecv, reinterpret_cast<void*>(&ReceiveFromWire));
  api.libssh2_session_callback_set(session, ssh2::kCallbackSend, reinterpret_cast<void*>(&SendToWire));

  // A failure keeps its code and text; the half-made session goes at once.
  auto abandon = [this] {
    const std::int32_t code = lastErrorCode_;
    const std::string text = lastErrorText_;
    ReleaseSession();
    lastErrorCode_ = code;
    lastErrorText_ = text;
    return false;
  };
  if (HostKeys) {
    if (const std::string pinned = HostKeys->Pinned(); !pinned.empty()) {
      const std::string methods = PreferredHostKeyMethods(session, HostKeyType(pinned));
      if (!methods.empty()) api.libssh2_session_method_pref(session, ssh2::kMethodHostkey, methods.c_str());
    }
  }
  const std::string ciphers =
      PreferredCiphers(SupportedMethods(session, ssh2::kMethodCryptCs), ProcessorHasAesGcm());
  if (!ciphers.empty()) {
    api.libssh2_session_method_pref(session, ssh2::kMethodCryptCs, ciphers.c_str());
    api.libssh2_session_method_pref(session, ssh2::kMethodCryptSc, ciphers.c_str());
  }
  if (!RecordStatus(api.libssh2_session_handshake(session, socket))) return abandon();
  LogCipher();

  std::size_t keyLength = 0;
  int keyType = 0;
  api.libssh2_session_hostkey(session, &keyLength, &keyType);
  if (const char* hash = api.libssh2_hostkey_hash(session, ssh2::kHostkeyHashSha256)) {
    fingerprint_ = "SHA256:" + Base64WithoutPadding(reinterpret_cast<const unsigned char*>(hash), 32);
    LogDebug("TSSLLibSSH2.Connect - host key " + fingerprint_ + " (" + HostKeyKind(keyType) + ")");
  }
  // Before anything of the user's is sent. Without a fingerprint (a library whose hash failed, or
  // one older than 1.9) the pin would be the bare type, which every key of that type matches.
  if (HostKeys && fingerprint_.empty()) {
    LogDebug(
        "TSSLLibSSH2.Connect - refused: the host key could not be checked: the SSH library gave no "
        "SHA-256 fingerprint of the server's key");
    Fail(ssh2::kErrorHostKeyRefused, "The host key could not be checked");
    return abandon();
  }
  if (HostKeys && !TrustHostKey(std::string(HostKeyKind(keyType)) + " " + fingerprint_)) return abandon();

  if (!Username.empty() && !Authenticate()) return abandon();
  if (!SSHChannelType.empty() && !OpenChannel()) return abandon();

  api.libssh2_session_set_blocking(session, 0);
  wire_.Buffering(true);
  securityActive_ = true;
  return true;
}

void TSSLLibSSH2::LogCipher() {
  const LibSSH2Entries& api = LibSSH2();
  const char* out = api.libssh2_session_methods(session_.get(), ssh2::kMethodCryptCs);
  const char* in = api.libssh2_session_methods(session_.get(), ssh2::kMethodCryptSc);
  if (!out || !in) return;
  LogDebug(std::string("TSSLLibSSH2.Connect - cipher ") + out +
           (std::strcmp(out, in) != 0 ? std::string(" (from the server: ") + in + ")" : ""));
}

bool TSSLLibSSH2::TrustHostKey(const std::string& offered) {
  HostKeyTrust::Answer answer{};
  try {
    answer = HostKeys->Check(offered);
  } catch (const std::exception& error) {
    LogDebug(std::string("TSSLLibSSH2.Connect - refused: the host key could not be checked: ") +
             error.what());
    return Fail(ssh2::kErrorHostKeyRefused, "The host key could not be checked");
  }
  switch (answer.verdict) {
    case HostKeyTrust::Verdict::Pinned:
      LogDebug("TSSLLibSSH2.Connect - pinned the SSH server's host key " + offered +
               ": later connections must offer the same key");
      return true;
    case HostKeyTrust::Verdict::Matches:
      return true;
    case HostKeyTrust::Verdict::Forgotten:
      LogDebug(
          "TSSLLibSSH2.Connect - refused: the pinned host key was forgotten while this connection was "
          "being made, so it pins nothing; the next connection pins the key it meets");
      return Fail(ssh2::kErrorHostKeyRefused, "The pinned host key was forgotten meanwhile");
    case HostKeyTrust::Verdict::Mismatch:
      break;
  }
  HostKeys->Refused(offered);
  LogDebug("TSSLLibSSH2.Connect - refused: the SSH server offered the host key " + offered + ", but " +
           answer.pinned +
           " is pinned, so nothing was sent. Someone may be listening in between; if the server's key "
           "really changed (compare ssh-keygen -l on the server), press Forget on the SSH tab and save");
  return Fail(ssh2::kErrorHostKeyRefused, "The SSH server's host key is not the pinned one");
}

// The key is read here and handed over in memory: the library's own file calls take the path in
// the ANSI code page on Windows, which cannot name every folder. A library without the call reads
// the files itself.
bool TSSLLibSSH2::LogInWithKey(const std::optional<std::string>& publicKeyData,
                               const std::string& publicKey) {
  const LibSSH2Entries& api = LibSSH2();
  LIBSSH2_SESSION* session = session_.get();
  // Without its public half libssh2 must derive it from the private key, which some builds cannot.
  const auto fromFile = [&] {
    return RecordStatus(api.libssh2_userauth_publickey_fromfile_ex(
        session, Username.data(), static_cast<unsigned>(Username.size()),
        publicKeyData ? publicKey.c_str() : nullptr, PrivateKeyFile.c_str(), KeyPassword.c_str()));
  };
  if (!api.libssh2_userauth_publickey_frommemory) return fromFile();
  const std::optional<std::string> privateKey = ReadSmallFile(PrivateKeyFile, kKeyFileLimit);
  if (!privateKey) return Fail(ssh2::kErrorFile, "Unable to read the private key file");
  if (RecordStatus(api.libssh2_userauth_publickey_frommemory(
          session, Username.data(), Username.size(), publicKeyData ? publicKeyData->data() : nullptr,
          publicKeyData ? publicKeyData->size() : 0, privateKey->data(), privateKey->size(),
          KeyPassword.c_str())))
    return true;
  if (lastErrorCode_ == ssh2::kErrorAuthenticationFailed) return false;
  // Some builds a user may bring cannot read from memory a key they read from its file (libssh2
  // 1.11.1 on mbedTLS with an ECDSA key in PEM form), so a path the library can open is tried the
  // old way too.
  const std::int32_t memoryCode = lastErrorCode_;
  const std::string memoryText = lastErrorText_;
  if (fromFile()) return true;
  return lastErrorCode_ == ssh2::kErrorFile ? Fail(memoryCode, memoryText) : false;
}

bool TSSLLibSSH2::AuthenticateWithKey() {
  const std::string publicKey = PrivateKeyFile + ".pub";
  const std::optional<std::string> publicKeyData = ReadSmallFile(publicKey, kKeyFileLimit);
  const bool havePublicKey = publicKeyData.has_value();
  if (LogInWithKey(publicKeyData, publicKey)) return true;
  std::string advice;
  if (lastErrorCode_ == ssh2::kErrorAuthenticationFailed) {
    advice = "the server did not accept it: add " + publicKey +
             " to the user's ~/.ssh/authorized_keys on the server";
  } else {
    const KeyFileKind kind = ReadKeyFileKind(PrivateKeyFile);
    advice = KeyFileAdvice(kind, !KeyPassword.empty());
    if (!havePublicKey && kind != KeyFileKind::Missing)
      advice += "; also, " + publicKey +
                " is missing, and this libssh2 may need it: make it with \"ssh-keygen -y -f " +
                PrivateKeyFile + " > " + publicKey + "\"";
  }
  LogDebug("TSSLLibSSH2.Connect - cannot log in with the key file " + PrivateKeyFile + ": " + advice +
           " (libssh2: " + lastErrorText_ + ")");
  return false;
}

bool TSSLLibSSH2::Authenticate() {
  // With a key the passphrase stays here: no password login, which would send it to the server.
  if (!PrivateKeyFile.empty()) return AuthenticateWithKey();
  const LibSSH2Entries& api = LibSSH2();
  LIBSSH2_SESSION* session = session_.get();
  const auto userLength = static_cast<unsigned>(Username.size());
  const char* methods = api.libssh2_userauth_list(session, Username.data(), userLength);
  // Some PAM set-ups offer only keyboard-interactive; a server that offers neither still gets the
  // password login, so that its own refusal is what the log shows.
  if (methods && !Offers(methods, "password") && Offers(methods, "keyboard-interactive"))
    return RecordStatus(api.libssh2_userauth_keyboard_interactive_ex(session, Username.data(), userLength,
                                                                     &AnswerWithPassword));
  return RecordStatus(api.libssh2_userauth_password_ex(session, Username.data(), userLength, Password.data(),
                                                       static_cast<unsigned>(Password.size()), nullptr));
}

bool TSSLLibSSH2::OpenChannel() {
  const LibSSH2Entries& api = LibSSH2();
  const std::string request =
      SSHChannelType == "direct-tcpip" ? DirectTcpipRequest(SSHChannelArg1, SSHChannelArg2) : "";
  channel_.reset(api.libssh2_channel_open_ex(
      session_.get(), SSHChannelType.data(), static_cast<unsigned>(SSHChannelType.size()), kChannelWindow,
      ssh2::kChannelPacketDefault, request.empty() ? nullptr : request.data(),
      static_cast<unsigned>(request.size())));
  if (channel_) return true;
  const int status = api.libssh2_session_last_error(session_.get(), nullptr, nullptr, 0);
  return RecordStatus(status != 0 ? status : ssh2::kErrorChannelClosed);
}

bool TSSLLibSSH2::Flushed() {
  const int error = wire_.Flush(Owner().SocketHandle(), std::chrono::steady_clock::now() + kFlushTimeout);
  return error == 0 || Fail(ssh2::kErrorSocketSend,
                            "Could not send to the SSH server (socket error " + std::to_string(error) + ")");
}

bool TSSLLibSSH2::StartTransfer() {
  lastErrorCode_ = 0;
  lastErrorText_.clear();
  return channel_ || Fail(ssh2::kErrorBadUse, "No SSH channel is open");
}

std::int32_t TSSLLibSSH2::SendBytes(const void* buffer, std::int32_t length) {
  if (!StartTransfer()) return -1;
  const LibSSH2Entries& api = LibSSH2();
  const char* data = static_cast<const char*>(buffer);
  std::int32_t total = 0;
  while (total < length) {
    const long written = static_cast<long>(api.libssh2_channel_write_ex(
        channel_.get(), 0, data + total, static_cast<std::size_t>(length - total)));
    if (written > 0) {
      total += static_cast<std::int32_t>(written);
    } else if (written == 0 || written == ssh2::kErrorEagain) {
      break;  // the peer's window is full for now
    } else {
      RecordStatus(written);
      return -1;
    }
  }
  return Flushed() ? total : -1;
}

std::int32_t TSSLLibSSH2::RecvBytes(void* buffer, std::int32_t length) {
  if (!StartTransfer()) return -1;
  const LibSSH2Entries& api = LibSSH2();
  char* into = static_cast<char*>(buffer);
  std::int32_t total = 0;
  long got = 0;
  // With a cipher that authenticates whole packets (chacha20-poly1305) libssh2 decrypts one packet
  // per read and then says "would block" on the part of the next it holds. So the read goes on
  // while received bytes wait and there is room: one delivery, not one per packet.
  do {
    got = static_cast<long>(api.libssh2_channel_read_ex(channel_.get(), 0, into + total,
                                                        static_cast<std::size_t>(length - total)));
    if (got > 0) total += static_cast<std::int32_t>(got);
  } while (got > 0 && total < length && wire_.HasInput());
  // A read may answer the server: a window adjustment, a key exchange.
  if (!Flushed()) return -1;
  // A failure after some data is reported by the next read, which meets it again.
  if (total > 0) return total;
  if (got == ssh2::kErrorEagain) return 0;
  if (got == 0) {
    if (!api.libssh2_channel_eof(channel_.get())) return 0;
    Fail(ssh2::kErrorChannelClosed, "The SSH server closed the channel");
    return -1;
  }
  RecordStatus(got);
  return -1;
}

std::int32_t TSSLLibSSH2::PendingBytes() {
  if (!channel_) return 0;
  unsigned long available = 0;
  LibSSH2().libssh2_channel_window_read_ex(channel_.get(), &available, nullptr);
  return static_cast<std::int32_t>(available);
}

bool TSSLLibSSH2::InputWaiting() {
  return channel_ &&
         (wire_.HasInput() || PendingBytes() > 0 || LibSSH2().libssh2_channel_eof(channel_.get()) == 1);
}

bool TSSLLibSSH2::EndSecurityBoth() {
  ReleaseSession();
  return true;
}

void TSSLLibSSH2::ReleaseSession() {
  securityActive_ = false;
  fingerprint_.clear();
  if (!session_) return;
  // What libssh2 counts as sent goes out before the close.
  wire_.Flush(Owner().SocketHandle(),
              std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseTimeoutMs));
  wire_.Buffering(false);
  const LibSSH2Entries& api = LibSSH2();
  LIBSSH2_SESSION* session = session_.get();
  // Closing talks to the server; blocking with a short limit, so a server that does not answer
  // cannot hold up the end.
  api.libssh2_session_set_blocking(session, 1);
  api.libssh2_session_set_timeout(session, kCloseTimeoutMs);
  // With the connection cut, whatever closing is left fails at once.
  auto cut = [this] { shutdown(Owner().SocketHandle(), kShutBoth); };
  if (channel_ && api.libssh2_channel_free(channel_.get()) == 0) channel_.release();
  if (channel_) {
    cut();
    // Freed here or, failing that, with the session.
    channel_.reset();
  }
  api.libssh2_session_disconnect_ex(session, ssh2::kDisconnectByApplication, "Tunnel closed", "");
  if (api.libssh2_session_free(session) != 0) {
    cut();
    api.libssh2_session_free(session);
  }
  session_.release();
}
