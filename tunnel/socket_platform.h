#pragma once
// Every difference between Winsock and BSD sockets, so that the socket layer reads the same on both
// systems. Error numbers are Winsock's everywhere: BSD errno values and resolver results are mapped
// onto them, so callers see the same codes on Linux as on Windows.
#include <cerrno>
#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#endif

#include "runtime/handle.h"

// A non-blocking socket had nothing to give or no room to take.
inline constexpr int kWouldBlock = 10035;

// One socket that a wait looks at, and what the wait found. A wait takes at most kMaxWaitSockets.
constexpr std::size_t kMaxWaitSockets = 8;
struct SocketWait {
  std::uintptr_t handle;  // a socket_t
  bool read = false;
  bool write = false;
  bool readable = false;
  bool writable = false;
};

#ifdef _WIN32

using socket_t = SOCKET;
using socklen_type = int;
inline constexpr socket_t kInvalidSocket = INVALID_SOCKET;
inline constexpr int kShutSend = SD_SEND;
inline constexpr int kShutBoth = SD_BOTH;

inline int SocketLastError() { return WSAGetLastError(); }
// getaddrinfo answers with Winsock numbers already.
inline int ResolverError(int result) { return result; }
inline int CloseSocket(socket_t s) { return closesocket(s); }
inline socket_t OpenSocket(int family, int type, int protocol) { return socket(family, type, protocol); }
inline socket_t AcceptSocket(socket_t s, sockaddr* address, socklen_type* length) {
  return accept(s, address, length);
}
inline int SendSome(socket_t s, const char* data, int length) { return send(s, data, length, 0); }
inline int RecvSome(socket_t s, char* data, int length) { return recv(s, data, length, 0); }
inline int PendingInput(socket_t s, std::int32_t& count) {
  u_long n = 0;
  const int result = ioctlsocket(s, FIONREAD, &n);
  count = static_cast<std::int32_t>(n);
  return result;
}

inline int SetBlocking(socket_t s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ioctlsocket(s, FIONBIO, &nonBlocking);
}
inline constexpr int kConnectInProgress = 10035;  // a non-blocking connect under way

// Winsock must be started before the first socket and may be stopped after the last.
inline bool StartSocketLibrary() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
inline void StopSocketLibrary() { WSACleanup(); }

// The last error as a C library reports it, for libraries that take errno values: what
// libssh2's own receive makes of Winsock's numbers.
inline int SocketErrno() {
  switch (WSAGetLastError()) {
    case WSAEWOULDBLOCK:
      return EAGAIN;
    case WSAENOTSOCK:
      return EBADF;
    case WSAEINTR:
      return EINTR;
    default:
      return EIO;
  }
}

// Winsock has no way to ask for an immediate acknowledgement.
inline void AcknowledgeAtOnce(socket_t) {}

// Waits until a socket is ready as asked, or the limit passes (-1: no limit). Returns how many are
// ready, 0 on time-out, -1 on error (see SocketLastError). A failed connect, which Winsock reports
// only in the exception set, counts as ready as well, so the next call reports it.
inline int WaitSockets(SocketWait* sockets, std::size_t count, std::int32_t timeoutMs) {
  fd_set reads, writes, failures;
  FD_ZERO(&reads);
  FD_ZERO(&writes);
  FD_ZERO(&failures);
  for (std::size_t i = 0; i < count; ++i) {
    if (sockets[i].read) FD_SET(static_cast<socket_t>(sockets[i].handle), &reads);
    if (sockets[i].write) {
      FD_SET(static_cast<socket_t>(sockets[i].handle), &writes);
      FD_SET(static_cast<socket_t>(sockets[i].handle), &failures);
    }
  }
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int result = select(0, &reads, &writes, &failures, timeoutMs < 0 ? nullptr : &limit);
  for (std::size_t i = 0; i < count; ++i) {
    const socket_t s = static_cast<socket_t>(sockets[i].handle);
    sockets[i].readable = result > 0 && sockets[i].read && FD_ISSET(s, &reads);
    sockets[i].writable = result > 0 && sockets[i].write && (FD_ISSET(s, &writes) || FD_ISSET(s, &failures));
  }
  return result;
}

#else

using socket_t = int;
using socklen_type = socklen_t;
inline constexpr socket_t kInvalidSocket = -1;
inline constexpr int kShutSend = SHUT_WR;
inline constexpr int kShutBoth = SHUT_RDWR;

// The Winsock number of a BSD errno value; values Winsock has no name for stay as they are.
inline int WinsockCode(int error) {
  static constexpr int table[][2] = {
      {EINTR, 10004},           {EBADF, 10009},         {EACCES, 10013},       {EFAULT, 10014},
      {EINVAL, 10022},          {EMFILE, 10024},        {EWOULDBLOCK, 10035},  {EAGAIN, 10035},
      {EINPROGRESS, 10036},     {EALREADY, 10037},      {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039},
      {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},    {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},     {ENETUNREACH, 10051},
      {ENETRESET, 10052},       {ECONNABORTED, 10053},  {ECONNRESET, 10054},   {EPIPE, 10054},
      {ENOBUFS, 10055},         {ENOMEM, 10055},        {EISCONN, 10056},      {ENOTCONN, 10057},
      {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},  {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},
      {ELOOP, 10062},           {ENAMETOOLONG, 10063},  {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},
      {ENOTEMPTY, 10066},       {EUSERS, 10068},        {EDQUOT, 10069},       {ESTALE, 10070},
      {EREMOTE, 10071}};
  for (const auto& pair : table) {
    if (pair[0] == error) return pair[1];
  }
  return error;
}

inline int SocketLastError() { return WinsockCode(errno); }
inline int SocketErrno() { return errno; }

// getaddrinfo's results as Winsock's resolver reports them.
inline int ResolverError(int result) {
  switch (result) {
    case 0:
      return 0;
    case EAI_NONAME:
      return 11001;
    case EAI_AGAIN:
      return 11002;
    case EAI_FAIL:
      return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return 11004;
#endif
    case EAI_FAMILY:
      return 10047;
    case EAI_SOCKTYPE:
      return 10044;
    case EAI_SERVICE:
      return 10109;
    case EAI_BADFLAGS:
      return 10022;
    case EAI_MEMORY:
      return 10055;
    case EAI_SYSTEM:
      return SocketLastError();
    default:
      return 11003;
  }
}

// A signal caught by the process interrupts a blocking call without anything having happened to
// the socket; Winsock knows no such thing, so here the call is simply made again.
template <typename Call>
inline auto RetryInterrupted(Call call) {
  for (;;) {
    const auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

inline int CloseSocket(socket_t s) { return close(s); }
// Not inherited by programs the process starts.
inline socket_t OpenSocket(int family, int type, int protocol) {
  return socket(family, type | SOCK_CLOEXEC, protocol);
}
inline socket_t AcceptSocket(socket_t s, sockaddr* address, socklen_type* length) {
  const socklen_type room = *length;
  return RetryInterrupted([&] {
    *length = room;
    return accept4(s, address, length, SOCK_CLOEXEC);
  });
}
// A peer that is gone shows as an error, not as a signal that ends the process.
inline int SendSome(socket_t s, const char* data, int length) {
  return static_cast<int>(
      RetryInterrupted([&] { return send(s, data, static_cast<std::size_t>(length), MSG_NOSIGNAL); }));
}
inline int RecvSome(socket_t s, char* data, int length) {
  return static_cast<int>(
      RetryInterrupted([&] { return recv(s, data, static_cast<std::size_t>(length), 0); }));
}
inline int PendingInput(socket_t s, std::int32_t& count) {
  int n = 0;
  const int result = ioctl(s, FIONREAD, &n);
  count = n;
  return result;
}

inline int SetBlocking(socket_t s, bool blocking) {
  const int flags = fcntl(s, F_GETFL);
  if (flags < 0) return -1;
  return fcntl(s, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}
inline constexpr int kConnectInProgress = 10036;  // a non-blocking connect under way

inline bool StartSocketLibrary() { return true; }
inline void StopSocketLibrary() {}

// Sends the ACK for what was read now rather than after the delayed-ACK timer. Linux turns quick
// acknowledgement off again by itself, so it is asked for after every read.
inline void AcknowledgeAtOnce(socket_t s) {
  const int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

// Waits until a socket is ready as asked, or the limit passes (-1: no limit). Returns how many are
// ready, 0 on time-out, -1 on error (see SocketLastError). A hang-up or error counts as readable,
// so the next receive reports it.
inline int WaitSockets(SocketWait* sockets, std::size_t count, std::int32_t timeoutMs) {
  if (count > kMaxWaitSockets) count = kMaxWaitSockets;
  pollfd polls[kMaxWaitSockets] = {};
  for (std::size_t i = 0; i < count; ++i) {
    polls[i].fd = static_cast<int>(sockets[i].handle);
    polls[i].events = static_cast<short>((sockets[i].read ? POLLIN : 0) | (sockets[i].write ? POLLOUT : 0));
  }
  // An interrupted wait goes on for what is left of its time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const int result = RetryInterrupted([&] {
    if (timeoutMs < 0) return poll(polls, count, -1);
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return poll(polls, count, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
  });
  for (std::size_t i = 0; i < count; ++i) {
    const short got = result > 0 ? polls[i].revents : 0;
    sockets[i].readable = sockets[i].read && (got & (POLLIN | POLLHUP | POLLERR));
    sockets[i].writable = sockets[i].write && (got & (POLLOUT | POLLHUP | POLLERR));
  }
  return result;
}

#endif

// The outcome of a non-blocking connect once the socket is ready: 0 or a Winsock error number.
inline int ConnectOutcome(socket_t s) {
  int error = 0;
  socklen_type length = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
    return SocketLastError();
#ifdef _WIN32
  return error;
#else
  return WinsockCode(error);
#endif
}

using socket_traits = handle_traits<socket_t, &CloseSocket, kInvalidSocket>;
using unique_socket = unique_handle<socket_traits>;
