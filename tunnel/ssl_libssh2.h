#pragma once
// The SSH plug: an SSH client session with one channel, run by libssh2 over the owner socket's
// connection. The relay sets SSLType LT_SSHv2, Username, Password, SSHChannelType "direct-tcpip",
// SSHChannelArg1 the target host and SSHChannelArg2 its port, both checked already, connects the
// socket to the SSH server and calls StartSecurity.
//
// After the channel stands the session is non-blocking, and the owner socket's traffic goes
// through the plug:
//
// - RecvBytes on the socket never waits. It returns the bytes libssh2 has for the channel, reading
//   and decrypting whatever has arrived on the wire; 0 with LastErrorCode 0 means nothing is there
//   for now. A channel the far end has closed, or any failure, gives LastErrorCode 10091 (the plug
//   keeps libssh2's status and text).
// - SendBytes on the socket takes what the channel can carry now and returns that count, which may
//   be less than offered, even 0, with LastErrorCode 0: the peer's window is full. Offer the rest
//   again later, starting with the first byte not taken. A packet libssh2 has begun to put on the
//   wire is always finished before the call returns, so reads and writes may be mixed freely.
//
// libssh2 reads whole packets and keeps what the caller did not ask for; a write reads incoming
// packets too. So data may sit inside the plug while the raw socket shows nothing to read. A relay
// therefore drains the channel until it would block after every wake-up of its wait and after
// every write to the channel, and only then waits again:
//
//     for (;;) {
//       std::int32_t n = ssh.RecvBytes(buffer, size);     // drain
//       if (n > 0) { deliver n bytes; continue; }
//       if (ssh.LastErrorCode() != 0) end the relay;
//       break;                                            // would block: safe to wait
//     }
//
// and waits for the raw socket (ssh.SocketHandle()) to become readable, then says so with
// SocketReadable: once a read of the wire has come back short, the plug reads the wire again only
// after that, so a drain costs no receive that would only say "would block". Bytes the channel did not
// take are offered again after the next wake-up (a window adjustment arrives as incoming data),
// again followed by a drain. libssh2 sessions belong to one thread each.
#include <cstdint>
#include <optional>
#include <string>

#include "runtime/handle.h"
#include "tunnel/blcksock.h"
#include "tunnel/libssh2_binding.h"
#include "tunnel/ssh_wire.h"

// Loads libssh2 and starts it once; on success every socket made afterwards gets a TSSLLibSSH2
// plug. Call at module start, before any thread makes sockets. False when the library is missing or
// does not start: sockets then keep TSSLNone, and every StartSecurity fails with 10091.
bool StartLibSSH2();
// Gives new sockets TSSLNone again and ends libssh2. Call only after the last session has ended.
void StopLibSSH2();

struct ssh_session_traits {
  using pointer = LIBSSH2_SESSION*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer session) noexcept { LibSSH2().libssh2_session_free(session); }
};
struct ssh_channel_traits {
  using pointer = LIBSSH2_CHANNEL*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer channel) noexcept { LibSSH2().libssh2_channel_free(channel); }
};
using unique_ssh_session = unique_handle<ssh_session_traits>;
using unique_ssh_channel = unique_handle<ssh_channel_traits>;

class TSSLLibSSH2 : public TCustomSSL {
 public:
  explicit TSSLLibSSH2(TTCPBlockSocket& owner) : TCustomSSL(owner) {}
  ~TSSLLibSSH2() override;

  std::string LibraryVersion() override;
  std::string LibraryName() override { return "ssl_libssh2"; }
  // Handshake; the server's host key logged and, with HostKeys, pinned or compared with the pin
  // (a different key ends it before anything is sent); login when Username is not empty, with
  // PrivateKeyFile and KeyPassword when a key file is given and nothing else, otherwise with the
  // password (or keyboard-interactive answered with it where the server offers only that); then
  // the channel.
  bool Connect() override;
  bool EndSecurity() override { return EndSecurityBoth(); }
  // Closes the channel and the session; true always.
  bool EndSecurityBoth() override;
  std::int32_t SendBytes(const void* buffer, std::int32_t length) override;
  std::int32_t RecvBytes(void* buffer, std::int32_t length) override;
  // Channel bytes already decrypted inside libssh2.
  std::int32_t PendingBytes() override;
  // Looks inside the plug only: libssh2's queue and the bytes received but not yet decrypted.
  // Every read and write of the channel first reads the socket until it would block, so what is
  // not in either has not arrived.
  bool InputWaiting() override;
  void SocketReadable() override { wire_.Readable(); }
  // "SHA256:" and the unpadded Base64 of the host key's SHA-256, as ssh-keygen -l shows it; empty
  // without a session.
  std::string PeerFingerprint() override { return fingerprint_; }

 private:
  // Says which cipher the session took, once, after the key exchange.
  void LogCipher();
  bool TrustHostKey(const std::string& offered);
  bool Authenticate();
  bool AuthenticateWithKey();
  bool LogInWithKey(const std::optional<std::string>& publicKeyData, const std::string& publicKey);
  bool OpenChannel();
  // Clears the last error; false, with an error, when no channel is open.
  bool StartTransfer();
  bool RecordStatus(long status);
  bool Fail(long status, const std::string& text);
  // Sends what the last call put on the wire; false, with an error, when that fails.
  bool Flushed();
  void ReleaseSession();
  // libssh2's receive and send; the session's abstract is the plug.
  static libssh2_ssize_t ReceiveFromWire(socket_t socket, void* buffer, std::size_t length, int flags,
                                         void** abstract);
  static libssh2_ssize_t SendToWire(socket_t socket, const void* buffer, std::size_t length, int flags,
                                    void** abstract);

  unique_ssh_session session_;
  unique_ssh_channel channel_;
  std::string fingerprint_;
  SshWire wire_;
};
