#pragma once
// The blocking TCP socket layer: one object wraps one socket, every operation blocks until it is
// done or its time limit passes, and none reports failure by throwing. Each leaves a Winsock error
// code in LastErrorCode (0 for success) and its text in LastErrorText, which callers test after
// each step; only with RaiseExcept on does a recorded error also throw ESynapseError.
//
// A TTCPBlockSocket carries a security plug. While the plug reports SecurityActive, the socket's
// sends and receives go through the plug instead of straight to the wire.
//
// Not built, since nothing uses them: proxies, datagrams, the text readers, bandwidth limits and
// status hooks.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tunnel/host_key_trust.h"
#include "tunnel/socket_platform.h"

enum class TSocketFamily { SF_Any, SF_IP4, SF_IP6 };
enum class TSSLType { LT_all, LT_SSLv2, LT_SSLv3, LT_TLSv1, LT_TLSv1_1, LT_SSHv2 };

// Codes the layer sets itself.
constexpr std::int32_t kWsaConnAborted = 10053;  // a send or receive stopped by StopFlag
constexpr std::int32_t kWsaConnReset = 10054;    // the peer closed its side during a read
constexpr std::int32_t kWsaTimedOut = 10060;     // RecvAvailable found nothing in time
constexpr std::int32_t kWsaSysNotReady = 10091;  // the plug failed to start, send or receive

class ESynapseError : public std::runtime_error {
 public:
  ESynapseError(const std::string& message, std::int32_t code, std::string errorMessage)
      : std::runtime_error(message), ErrorCode(code), ErrorMessage(std::move(errorMessage)) {}
  std::int32_t ErrorCode;
  std::string ErrorMessage;
};

// Ends the system's socket library once the last socket is gone (Winsock is started by the first
// socket object). Called at quit, never at module unload, where the loader lock is held.
void StopSocketInterface();

class TBlockSocket {
 public:
  TBlockSocket();
  virtual ~TBlockSocket();
  TBlockSocket(const TBlockSocket&) = delete;
  TBlockSocket& operator=(const TBlockSocket&) = delete;

  std::int32_t Tag = 0;
  // Throw ESynapseError for every recorded error.
  bool RaiseExcept = false;
  // With SF_Any and a host name, try IPv4 before IPv6.
  bool PreferIP4 = true;
  // Largest piece handed to one send.
  std::int32_t SendMaxChunk = 65535;
  // When set, the next send or receive does nothing, clears it and records 10053.
  bool StopFlag = false;
  // SF_Any lets each Bind or Connect choose from the address.
  TSocketFamily Family = TSocketFamily::SF_Any;
  // When set, Connect waits for the connection in short steps and asks this between them; true
  // gives up at once with 10004. Without it Connect blocks for as long as the system tries.
  std::function<bool()> ConnectInterrupted;

  socket_t SocketHandle() const noexcept { return socket_.get(); }
  // Adopts a handle, such as one that Accept returned; this object closes it from then on.
  void SetSocketHandle(socket_t handle);

  std::int32_t LastErrorCode() const noexcept { return lastErrorCode_; }
  const std::string& LastErrorText() const noexcept { return lastErrorText_; }
  // Bytes taken from the socket but not yet handed to the caller; RecvAvailable empties it first.
  const std::string& ReadAhead() const noexcept { return readAhead_; }
  bool UsesIPv6() const noexcept { return usesIPv6_; }
  std::int32_t BytesReceived() const noexcept { return bytesReceived_; }
  std::int32_t BytesSent() const noexcept { return bytesSent_; }
  // Ports of the local and peer address, as read after Bind, Connect, Listen and adoption.
  std::uint16_t LocalPort() const noexcept;
  std::uint16_t RemotePort() const noexcept;

  // Makes the socket when Family names one; with SF_Any the first Bind or Connect makes it.
  void MakeSocket();
  // Linger on or off with Linger div 1000 whole seconds; waits for the socket when there is none.
  void SetLingerTime(bool enable, std::int32_t lingerMs);
  // Nagle's delay off (on) or on (off); waits for the socket when there is none.
  void SetNoDelay(bool on);
  void Bind(const std::string& ip, const std::string& port);
  void Listen();
  // The accepted connection's handle, not wrapped, or kInvalidSocket; the peer's address goes into
  // this object's remote address.
  socket_t Accept();
  // Plain TCP connection with name resolution; blocks until it stands, the system gives up, or
  // ConnectInterrupted says so.
  void Connect(const std::string& ip, const std::string& port);
  // Timeout in milliseconds: -1 waits without limit, 0 only looks.
  bool CanRead(std::int32_t timeoutMs);
  bool CanWrite(std::int32_t timeoutMs);
  // Bytes that can be read at once.
  virtual std::int32_t PendingBytes();
  // One receive of at most length bytes: the count, 0 when the peer has closed (10054), -1 on error.
  std::int32_t RecvBytes(void* buffer, std::int32_t length);
  // Sends in pieces of at most SendMaxChunk; returns the bytes sent, fewer only after an error or
  // when a secured socket's plug takes no more for now.
  std::int32_t SendBytes(const void* buffer, std::int32_t length);
  // What is waiting, or what arrives within the time: empty with 10060 on time-out, with 10054
  // when the peer has closed.
  std::string RecvAvailable(std::int32_t timeoutMs);
  void SendByteString(const std::string& data);
  // Shuts down sending, discards input already there, closes. The object can make a new socket.
  virtual void CloseConnection();
  // Records an error found outside the socket's own calls, such as a failed wait, so that the
  // caller's next check sees it.
  void Fail(std::int32_t code) { lastErrorCode_ = code; }
  // Closes at once.
  void AbortConnection();

  static std::string GetErrorDesc(std::int32_t code);

 protected:
  // The socket kind that MakeSocket creates; the base class answers 0 for both.
  virtual int SocketType() const { return 0; }
  virtual int SocketProtocol() const { return 0; }
  // One piece through the wire, or through a descendant's plug: the count, or -1 with the error
  // recorded. A plug may take fewer bytes than offered.
  virtual std::int32_t SendPiece(const char* data, std::int32_t length);
  virtual std::int32_t RecvOnce(char* data, std::int32_t length);

  // Records the outcome of a system call whose failure is -1.
  void SockCheck(int result);
  void SetLastError(std::int32_t code) { lastErrorCode_ = code; }
  // Fills in the text and, for a real error, throws when RaiseExcept is on.
  void ExceptCheck();

  std::string readAhead_;

 private:
  struct Option {
    enum Kind { kLinger, kNoDelay } kind;
    bool enable;
    std::int32_t value;
  };
  void ApplyOption(const Option& option);
  void SetOption(const Option& option);
  bool CreateSocket(int family);
  int Resolve(const std::string& ip, const std::string& port, sockaddr_storage& address,
              socklen_type& length);
  void ReadAddresses();
  bool WaitReady(bool write, std::int32_t timeoutMs);
  int ConnectInterruptibly(const sockaddr_storage& address, socklen_type length);

  unique_socket socket_;
  std::int32_t lastErrorCode_ = 0;
  std::string lastErrorText_;
  bool usesIPv6_ = false;
  std::int32_t bytesReceived_ = 0;
  std::int32_t bytesSent_ = 0;
  sockaddr_storage localAddress_{};
  sockaddr_storage remoteAddress_{};
  std::vector<Option> pendingOptions_;
};

class TTCPBlockSocket;

// The security plug: the base class implements nothing, and every operation that fails for that
// reason leaves -1 and "SLL is not implemented!".
class TCustomSSL {
 public:
  explicit TCustomSSL(TTCPBlockSocket& owner) : owner_(owner) {}
  virtual ~TCustomSSL() = default;
  TCustomSSL(const TCustomSSL&) = delete;
  TCustomSSL& operator=(const TCustomSSL&) = delete;

  TSSLType SSLType = TSSLType::LT_all;
  std::string KeyPassword;
  std::string Username;
  std::string Password;
  std::string PrivateKeyFile;
  // When set, the server's host key is checked against it before anything is sent.
  std::shared_ptr<HostKeyTrust> HostKeys;
  std::string SSHChannelType;
  std::string SSHChannelArg1;
  std::string SSHChannelArg2;

  // Copies the settings above, the channel excepted.
  virtual void CopySettings(const TCustomSSL& other);
  virtual std::string LibraryVersion() { return ""; }
  virtual std::string LibraryName() { return ""; }
  // Starts the client side of the secure channel on the owner's connected socket.
  virtual bool Connect() { return NotImplemented(); }
  // Starts the server side.
  virtual bool Accept() { return NotImplemented(); }
  virtual bool EndSecurity() { return NotImplemented(); }
  virtual bool EndSecurityBoth() { return NotImplemented(); }
  virtual std::int32_t SendBytes(const void* buffer, std::int32_t length);
  virtual std::int32_t RecvBytes(void* buffer, std::int32_t length);
  // Bytes ready to read inside the plug.
  virtual std::int32_t PendingBytes();
  // Whether a receive now could return data or report the end without new input on the socket.
  // A plug that cannot tell says yes, so that its callers read.
  virtual bool InputWaiting() { return true; }
  // Tells the plug that a wait found the owner's socket readable. A plug may skip reading a socket
  // it found empty until told so: under Wine a receive that finds nothing costs as much as one
  // that finds data.
  virtual void SocketReadable() {}
  virtual std::string PeerFingerprint() { return ""; }

  TTCPBlockSocket& Owner() const noexcept { return owner_; }
  // True while the secure channel runs, which routes the owner's traffic through the plug.
  bool SecurityActive() const noexcept { return securityActive_; }
  std::int32_t LastErrorCode() const noexcept { return lastErrorCode_; }
  const std::string& LastErrorText() const noexcept { return lastErrorText_; }

 protected:
  bool NotImplemented();

  bool securityActive_ = false;
  std::int32_t lastErrorCode_ = 0;
  std::string lastErrorText_;

 private:
  TTCPBlockSocket& owner_;
};

class TSSLNone : public TCustomSSL {
 public:
  using TCustomSSL::TCustomSSL;
  std::string LibraryVersion() override { return "Without SSL support"; }
  std::string LibraryName() override { return "ssl_none"; }
};

// A plug class: makes a plug of its kind for a socket.
using TSSLClass = std::unique_ptr<TCustomSSL> (*)(TTCPBlockSocket& owner);
template <typename Plug>
std::unique_ptr<TCustomSSL> SSLClassOf(TTCPBlockSocket& owner) {
  return std::make_unique<Plug>(owner);
}

// The plug class every new TTCPBlockSocket instantiates: TSSLNone until the SSH plug's module start
// replaces it. Written at module start and stop, before and after any thread makes sockets.
extern std::atomic<TSSLClass> DefaultSSLClass;

class TTCPBlockSocket : public TBlockSocket {
 public:
  TTCPBlockSocket();
  ~TTCPBlockSocket() override;

  TCustomSSL& SecurityPlug() const noexcept { return *plug_; }

  // Starts the plug's client side on the connected socket; a plug failure records 10091 and leaves
  // the plug's own code and text in the plug.
  void StartSecurity();
  std::int32_t PendingBytes() override;
  // Ends the plug, shuts down sending and discards what the peer still sends, for a short while at
  // most, so that the close that follows is orderly rather than a reset. Idempotent.
  void FinishConnection();
  void CloseConnection() override;

 protected:
  int SocketType() const override { return SOCK_STREAM; }
  int SocketProtocol() const override { return IPPROTO_TCP; }
  std::int32_t SendPiece(const char* data, std::int32_t length) override;
  std::int32_t RecvOnce(char* data, std::int32_t length) override;

 private:
  std::unique_ptr<TCustomSSL> plug_;
  bool finished_ = false;
};
