#include "tunnel/ssh_wire.h"

#include <algorithm>
#include <cstring>

#include "tunnel/blcksock.h"

std::ptrdiff_t SshWire::Receive(socket_t socket, char* buffer, std::size_t length, int flags) {
  if (!HasInput()) {
    if (buffering_ && empty_) return -EAGAIN;
    if (buffering_ && !in_) in_ = std::make_unique_for_overwrite<char[]>(kReceivePiece);
    char* into = buffering_ ? in_.get() : buffer;
    const std::size_t room = buffering_ ? kReceivePiece : length;
    const auto n = static_cast<std::ptrdiff_t>(recv(socket, into, static_cast<int>(room), flags));
    const int error = SocketErrno();
    // A receive takes all the socket holds, up to its room: a short one leaves it empty.
    empty_ = n < 0 ? error == EAGAIN : n > 0 && static_cast<std::size_t>(n) < room;
    // sshd leaves Nagle on, so its second small packet waits for our ACK of the first, which the
    // system delays by 40 ms; several such waits fall into every login and channel open.
    AcknowledgeAtOnce(socket);
    if (n <= 0) return n < 0 ? -error : 0;
    if (!buffering_) return n;
    inAt_ = 0;
    inEnd_ = static_cast<std::size_t>(n);
  }
  const std::size_t count = std::min(length, inEnd_ - inAt_);
  std::memcpy(buffer, in_.get() + inAt_, count);
  inAt_ += count;
  return static_cast<std::ptrdiff_t>(count);
}

std::ptrdiff_t SshWire::Send(socket_t socket, const char* data, std::size_t length, int flags) {
  if (buffering_) {
    out_.append(data, length);
    return static_cast<std::ptrdiff_t>(length);
  }
  const auto n = static_cast<std::ptrdiff_t>(send(socket, data, static_cast<int>(length), flags));
  return n < 0 ? -SocketErrno() : n;
}

int SshWire::Flush(socket_t socket, std::chrono::steady_clock::time_point deadline) {
  std::size_t sent = 0;
  int error = 0;
  while (sent < out_.size() && error == 0) {
    const int n = SendSome(socket, out_.data() + sent, static_cast<int>(out_.size() - sent));
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    error = SocketLastError();
    if (error != kWouldBlock) break;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    SocketWait wait{static_cast<std::uintptr_t>(socket)};
    wait.write = true;
    if (left.count() <= 0) {
      error = kWsaTimedOut;
    } else if (WaitSockets(&wait, 1, static_cast<std::int32_t>(left.count())) < 0) {
      error = SocketLastError();
    } else {
      error = 0;
    }
  }
  out_.clear();
  return error;
}
