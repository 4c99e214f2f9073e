#include "tunnel/blcksock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

std::atomic<TSSLClass> DefaultSSLClass{&SSLClassOf<TSSLNone>};

namespace {

// The process-wide socket-interface lock guards the start of the system's socket library. Address
// look-up goes through getaddrinfo, which is re-entrant on both systems, so it takes no lock.
struct SocketInterface {
  std::mutex lock;
  bool started = false;

  bool Start() {
    std::lock_guard<std::mutex> guard(lock);
    if (!started) started = StartSocketLibrary();
    return started;
  }
  // Not from a destructor: at module unload that would run under the loader lock, where another
  // library must not be torn down.
  void Stop() {
    std::lock_guard<std::mutex> guard(lock);
    if (started) StopSocketLibrary();
    started = false;
  }
};

SocketInterface& Interface() {
  static SocketInterface state;
  return state;
}

}  // namespace

void StopSocketInterface() { Interface().Stop(); }

namespace {

bool IsAnyAddress(const std::string& ip) { return ip == "0.0.0.0" || ip == "::0"; }
bool IsLoopbackAddress(const std::string& ip) { return ip == "127.0.0.1" || ip == "::1"; }

// Only the family of a numeric address, 0 for a host name.
int NumericFamily(const std::string& ip) {
  for (int family : {AF_INET, AF_INET6}) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(ip.c_str(), nullptr, &hints, &found) == 0) {
      freeaddrinfo(found);
      return family;
    }
  }
  return 0;
}

std::uint16_t PortOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return 0;
}

void GiveWayToOthers() { std::this_thread::yield(); }

}  // namespace

TBlockSocket::TBlockSocket() {
  if (!Interface().Start()) {
    throw ESynapseError("Error loading Socket interface (ws2_32.dll)!", 0,
                        "Error loading Socket interface (ws2_32.dll)!");
  }
}

TBlockSocket::~TBlockSocket() {
  // A descendant's CloseConnection has run already; this only closes what is left.
  AbortConnection();
}

std::uint16_t TBlockSocket::LocalPort() const noexcept { return PortOf(localAddress_); }
std::uint16_t TBlockSocket::RemotePort() const noexcept { return PortOf(remoteAddress_); }

void TBlockSocket::SockCheck(int result) { lastErrorCode_ = result == -1 ? SocketLastError() : 0; }

void TBlockSocket::ExceptCheck() {
  lastErrorText_ = GetErrorDesc(lastErrorCode_);
  if (lastErrorCode_ == 0 || lastErrorCode_ == 10035 || lastErrorCode_ == 10036) return;
  if (RaiseExcept) {
    char message[512];
    std::snprintf(message, sizeof message, "Synapse TCP/IP Socket error %d: %s",
                  static_cast<int>(lastErrorCode_), lastErrorText_.c_str());
    throw ESynapseError(message, lastErrorCode_, lastErrorText_);
  }
}

void TBlockSocket::ApplyOption(const Option& option) {
  int result = 0;
  if (option.kind == Option::kLinger) {
    linger value{};
    value.l_onoff = option.enable ? 1 : 0;
    value.l_linger = static_cast<decltype(value.l_linger)>(option.value / 1000);
    result =
        setsockopt(socket_.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&value), sizeof value);
  } else {
    int value = option.enable ? 1 : 0;
    result = setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value),
                        sizeof value);
  }
  SockCheck(result);
}

void TBlockSocket::SetOption(const Option& option) {
  if (socket_) {
    ApplyOption(option);
  } else {
    pendingOptions_.push_back(option);
    lastErrorCode_ = 0;
  }
  ExceptCheck();
}

void TBlockSocket::SetLingerTime(bool enable, std::int32_t lingerMs) {
  SetOption({Option::kLinger, enable, lingerMs});
}

void TBlockSocket::SetNoDelay(bool on) { SetOption({Option::kNoDelay, on, 0}); }

bool TBlockSocket::CreateSocket(int family) {
  StopFlag = false;
  bytesReceived_ = 0;
  bytesSent_ = 0;
  lastErrorCode_ = 0;
  if (socket_) return true;
  readAhead_.clear();
  usesIPv6_ = family == AF_INET6;
  socket_.reset(OpenSocket(family, SocketType(), SocketProtocol()));
  if (!socket_) {
    lastErrorCode_ = SocketLastError();
    ExceptCheck();
    return false;
  }
  ExceptCheck();
  // In the order they were set; the last outcome is the one recorded.
  for (const Option& option : pendingOptions_) ApplyOption(option);
  pendingOptions_.clear();
  return true;
}

void TBlockSocket::MakeSocket() {
  if (Family == TSocketFamily::SF_Any) return;
  CreateSocket(Family == TSocketFamily::SF_IP6 ? AF_INET6 : AF_INET);
}

int TBlockSocket::Resolve(const std::string& ip, const std::string& port, sockaddr_storage& address,
                          socklen_type& length) {
  std::vector<int> families;
  if (Family == TSocketFamily::SF_IP4) {
    families = {AF_INET};
  } else if (Family == TSocketFamily::SF_IP6) {
    families = {AF_INET6};
  } else if (socket_) {
    families = {usesIPv6_ ? AF_INET6 : AF_INET};
  } else if (const int numeric = NumericFamily(ip); numeric != 0) {
    families = {numeric};
  } else if (PreferIP4) {
    families = {AF_INET, AF_INET6};
  } else {
    families = {AF_INET6, AF_INET};
  }

  int result = 0;
  for (int family : families) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SocketType();
    hints.ai_protocol = SocketProtocol();
    const char* node = ip.c_str();
    // The any and the loopback address are looked up as the port alone.
    if (IsAnyAddress(ip)) {
      node = nullptr;
      hints.ai_flags = AI_PASSIVE;
    } else if (IsLoopbackAddress(ip)) {
      node = nullptr;
    }
    addrinfo* found = nullptr;
    result = ResolverError(getaddrinfo(node, port.c_str(), &hints, &found));
    if (result == 0 && found) {
      std::memcpy(&address, found->ai_addr, found->ai_addrlen);
      length = static_cast<socklen_type>(found->ai_addrlen);
      freeaddrinfo(found);
      return 0;
    }
  }
  return result != 0 ? result : 11001;
}

void TBlockSocket::ReadAddresses() {
  socklen_type length = sizeof localAddress_;
  localAddress_ = {};
  getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&localAddress_), &length);
  length = sizeof remoteAddress_;
  remoteAddress_ = {};
  getpeername(socket_.get(), reinterpret_cast<sockaddr*>(&remoteAddress_), &length);
}

void TBlockSocket::Bind(const std::string& ip, const std::string& port) {
  lastErrorCode_ = 0;
  // An unbound socket already means any address and any port.
  if (!socket_ && Family == TSocketFamily::SF_Any && ip == "0.0.0.0" && port == "0") {
    ExceptCheck();
    return;
  }
  sockaddr_storage address{};
  socklen_type length = 0;
  lastErrorCode_ = Resolve(ip, port, address, length);
  if (lastErrorCode_ == 0 && CreateSocket(address.ss_family)) {
    SockCheck(bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), length));
    ReadAddresses();
    readAhead_.clear();
  }
  ExceptCheck();
}

void TBlockSocket::Listen() {
  // 0x7FFFFFFF asks Winsock for the system's largest backlog; BSD systems cap it themselves.
  SockCheck(listen(socket_.get(), 0x7FFFFFFF));
  ReadAddresses();
  ExceptCheck();
}

socket_t TBlockSocket::Accept() {
  socklen_type length = sizeof remoteAddress_;
  remoteAddress_ = {};
  const socket_t accepted =
      AcceptSocket(socket_.get(), reinterpret_cast<sockaddr*>(&remoteAddress_), &length);
  SockCheck(accepted == kInvalidSocket ? -1 : 0);
  ExceptCheck();
  return accepted;
}

void TBlockSocket::SetSocketHandle(socket_t handle) {
  bytesReceived_ = 0;
  bytesSent_ = 0;
  socket_.reset(handle);
  ReadAddresses();
  usesIPv6_ = remoteAddress_.ss_family == AF_INET6;
}

// Winsock's "interrupted call", for a connect that ConnectInterrupted ended.
constexpr int kConnectInterrupted = 10004;

void TBlockSocket::Connect(const std::string& ip, const std::string& port) {
  sockaddr_storage address{};
  socklen_type length = 0;
  // A relay ended before it got here must not hold its thread for a slow name server.
  if (ConnectInterrupted && ConnectInterrupted()) {
    lastErrorCode_ = kConnectInterrupted;
    ExceptCheck();
    return;
  }
  lastErrorCode_ = Resolve(ip, port, address, length);
  if (lastErrorCode_ == 0 && CreateSocket(address.ss_family)) {
    if (ConnectInterrupted) {
      lastErrorCode_ = ConnectInterruptibly(address, length);
    } else {
      SockCheck(connect(socket_.get(), reinterpret_cast<sockaddr*>(&address), length));
    }
    if (lastErrorCode_ == 0) ReadAddresses();
    readAhead_.clear();
  }
  ExceptCheck();
}

int TBlockSocket::ConnectInterruptibly(const sockaddr_storage& address, socklen_type length) {
  // Short enough that a quit waiting for this connect hardly notices it.
  constexpr std::int32_t kStepMs = 50;
  if (ConnectInterrupted()) return kConnectInterrupted;
  if (SetBlocking(socket_.get(), false) != 0) return SocketLastError();
  int outcome = 0;
  if (connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    outcome = SocketLastError();
    while (outcome == kConnectInProgress) {
      SocketWait wait{static_cast<std::uintptr_t>(socket_.get())};
      wait.write = true;
      const int ready = WaitSockets(&wait, 1, kStepMs);
      if (ready < 0) {
        outcome = SocketLastError();
      } else if (ready > 0) {
        outcome = ConnectOutcome(socket_.get());
      } else if (ConnectInterrupted()) {
        outcome = kConnectInterrupted;
      }
    }
  }
  if (SetBlocking(socket_.get(), true) != 0 && outcome == 0) outcome = SocketLastError();
  return outcome;
}

bool TBlockSocket::WaitReady(bool write, std::int32_t timeoutMs) {
  SocketWait wait{static_cast<std::uintptr_t>(socket_.get())};
  wait.read = !write;
  wait.write = write;
  const int result = WaitSockets(&wait, 1, timeoutMs);
  SockCheck(result);
  ExceptCheck();
  return result > 0 && lastErrorCode_ == 0;
}

bool TBlockSocket::CanRead(std::int32_t timeoutMs) { return WaitReady(false, timeoutMs); }
bool TBlockSocket::CanWrite(std::int32_t timeoutMs) { return WaitReady(true, timeoutMs); }

std::int32_t TBlockSocket::PendingBytes() {
  std::int32_t count = 0;
  return PendingInput(socket_.get(), count) == 0 ? count : 0;
}

std::int32_t TBlockSocket::SendPiece(const char* data, std::int32_t length) {
  // A blocking send normally takes all; a short one is finished here.
  std::int32_t sent = 0;
  while (sent < length) {
    const int result = SendSome(socket_.get(), data + sent, length - sent);
    SockCheck(result);
    if (result < 0) return -1;
    sent += result;
  }
  return sent;
}

std::int32_t TBlockSocket::RecvOnce(char* data, std::int32_t length) {
  const int result = RecvSome(socket_.get(), data, length);
  SockCheck(result);
  if (result == 0) lastErrorCode_ = kWsaConnReset;
  return result;
}

std::int32_t TBlockSocket::SendBytes(const void* buffer, std::int32_t length) {
  if (StopFlag) {
    StopFlag = false;
    lastErrorCode_ = kWsaConnAborted;
    ExceptCheck();
    return 0;
  }
  lastErrorCode_ = 0;
  const char* data = static_cast<const char*>(buffer);
  const std::int32_t chunk = SendMaxChunk > 0 ? SendMaxChunk : length;
  std::int32_t total = 0;
  while (total < length) {
    const std::int32_t piece = std::min(chunk, length - total);
    const std::int32_t sent = SendPiece(data + total, piece);
    if (sent < 0) break;
    total += sent;
    bytesSent_ += sent;
    if (sent < piece) break;
  }
  ExceptCheck();
  return total;
}

void TBlockSocket::SendByteString(const std::string& data) {
  SendBytes(data.data(), static_cast<std::int32_t>(data.size()));
}

std::int32_t TBlockSocket::RecvBytes(void* buffer, std::int32_t length) {
  if (StopFlag) {
    StopFlag = false;
    lastErrorCode_ = kWsaConnAborted;
    ExceptCheck();
    return 0;
  }
  const std::int32_t count = RecvOnce(static_cast<char*>(buffer), length);
  ExceptCheck();
  if (count > 0) bytesReceived_ += count;
  return count;
}

std::string TBlockSocket::RecvAvailable(std::int32_t timeoutMs) {
  lastErrorCode_ = 0;
  std::string result;
  if (!readAhead_.empty()) {
    result.swap(readAhead_);
    ExceptCheck();
    return result;
  }
  auto readPending = [&](std::int32_t pending) {
    result.resize(static_cast<std::size_t>(pending));
    const std::int32_t count = RecvBytes(result.data(), pending);
    result.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  };
  GiveWayToOthers();
  if (const std::int32_t pending = PendingBytes(); pending > 0) {
    readPending(pending);
  } else if (CanRead(timeoutMs)) {
    // Readable with nothing to read: the peer has closed.
    const std::int32_t now = PendingBytes();
    if (now > 0) {
      readPending(now);
    } else {
      lastErrorCode_ = kWsaConnReset;
    }
  } else if (lastErrorCode_ == 0) {
    lastErrorCode_ = kWsaTimedOut;
  }
  ExceptCheck();
  return result;
}

void TBlockSocket::CloseConnection() { AbortConnection(); }

void TBlockSocket::AbortConnection() {
  socket_.reset();
  pendingOptions_.clear();
  lastErrorCode_ = 0;
  lastErrorText_.clear();
}

std::string TBlockSocket::GetErrorDesc(std::int32_t code) {
  struct Entry {
    std::int32_t code;
    const char* text;
  };
  static constexpr Entry kTexts[] = {
      {10004, "Interrupted system call"},
      {10009, "Bad file number"},
      {10013, "Permission denied"},
      {10014, "Bad address"},
      {10022, "Invalid argument"},
      {10024, "Too many open files"},
      {10035, "Operation would block"},
      {10036, "Operation now in progress"},
      {10037, "Operation already in progress"},
      {10038, "Socket operation on nonsocket"},
      {10039, "Destination address required"},
      {10040, "Message too long"},
      {10041, "Protocol wrong type for Socket"},
      {10042, "Protocol not available"},
      {10043, "Protocol not supported"},
      {10044, "Socket not supported"},
      {10045, "Operation not supported on Socket"},
      {10046, "Protocol family not supported"},
      {10047, "Address family not supported"},
      {10048, "Address already in use"},
      {10049, "Can't assign requested address"},
      {10050, "Network is down"},
      {10051, "Network is unreachable"},
      {10052, "Network dropped connection on reset"},
      {10053, "Software caused connection abort"},
      {10054, "Connection reset by peer"},
      {10055, "No Buffer space available"},
      {10056, "Socket is already connected"},
      {10057, "Socket is not connected"},
      {10058, "Can't send after Socket shutdown"},
      {10059, "Too many references:can't splice"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10062, "Too many levels of symbolic links"},
      {10063, "File name is too long"},
      {10064, "Host is down"},
      {10065, "No route to host"},
      {10066, "Directory is not empty"},
      {10067, "Too many processes"},
      {10068, "Too many users"},
      {10069, "Disk quota exceeded"},
      {10070, "Stale NFS file handle"},
      {10071, "Too many levels of remote in path"},
      {10091, "Network subsystem is unusable"},
      {10092, "Winsock DLL cannot support this application"},
      {10093, "Winsock not initialized"},
      {10101, "Disconnect"},
      {11001, "Host not found"},
      {11002, "Non authoritative - host not found"},
      {11003, "Non recoverable error"},
      {11004, "Valid name, no data record of requested type"},
  };
  if (code == 0) return "";
  for (const Entry& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return "Other Winsock error (" + std::to_string(code) + ")";
}

// The plug base.

bool TCustomSSL::NotImplemented() {
  lastErrorCode_ = -1;
  lastErrorText_ = "SLL is not implemented!";
  return false;
}

void TCustomSSL::CopySettings(const TCustomSSL& other) {
  SSLType = other.SSLType;
  KeyPassword = other.KeyPassword;
  Username = other.Username;
  Password = other.Password;
  PrivateKeyFile = other.PrivateKeyFile;
  HostKeys = other.HostKeys;
}

std::int32_t TCustomSSL::SendBytes(const void*, std::int32_t) {
  NotImplemented();
  return -1;
}

std::int32_t TCustomSSL::RecvBytes(void*, std::int32_t) {
  NotImplemented();
  return -1;
}

std::int32_t TCustomSSL::PendingBytes() {
  NotImplemented();
  return 0;
}

// The TCP socket with its plug.

TTCPBlockSocket::TTCPBlockSocket() : plug_(DefaultSSLClass.load()(*this)) {}

TTCPBlockSocket::~TTCPBlockSocket() {
  CloseConnection();
  // The plug goes before the socket object it belongs to.
  plug_.reset();
}

void TTCPBlockSocket::StartSecurity() {
  SetLastError(0);
  if (!plug_->Connect()) SetLastError(kWsaSysNotReady);
  ExceptCheck();
}

std::int32_t TTCPBlockSocket::PendingBytes() {
  if (plug_->SecurityActive()) {
    if (const std::int32_t inside = plug_->PendingBytes(); inside > 0) return inside;
  }
  return TBlockSocket::PendingBytes();
}

std::int32_t TTCPBlockSocket::SendPiece(const char* data, std::int32_t length) {
  if (!plug_->SecurityActive()) return TBlockSocket::SendPiece(data, length);
  SetLastError(0);
  const std::int32_t sent = plug_->SendBytes(data, length);
  if (plug_->LastErrorCode() != 0) {
    SetLastError(kWsaSysNotReady);
    return -1;
  }
  return sent;
}

std::int32_t TTCPBlockSocket::RecvOnce(char* data, std::int32_t length) {
  if (!plug_->SecurityActive()) return TBlockSocket::RecvOnce(data, length);
  SetLastError(0);
  const std::int32_t count = plug_->RecvBytes(data, length);
  if (plug_->LastErrorCode() != 0) {
    SetLastError(kWsaSysNotReady);
    return -1;
  }
  return count;
}

void TTCPBlockSocket::FinishConnection() {
  if (plug_->SecurityActive()) plug_->EndSecurity();
  if (finished_ || SocketHandle() == kInvalidSocket) return;
  finished_ = true;
  shutdown(SocketHandle(), kShutSend);
  // Discards what is already there without waiting for more, so the close is orderly. A peer that
  // keeps sending is given a moment, not for ever.
  constexpr auto kDrainLimit = std::chrono::seconds(1);
  const auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
  try {
    do {
      RecvAvailable(0);
    } while (LastErrorCode() == 0 && std::chrono::steady_clock::now() < deadline);
  } catch (const std::exception&) {
  }
  SetLastError(0);
}

void TTCPBlockSocket::CloseConnection() {
  FinishConnection();
  AbortConnection();
  finished_ = false;
}
