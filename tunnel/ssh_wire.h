#pragma once
// The socket under an SSH session, as libssh2's send and receive callbacks reach it.
//
// Under Wine every socket call is a round trip to the wine server, whatever it moves. Left to
// itself libssh2 receives at most one packet per call, sends every packet with a call of its own,
// and ends every read and begins every write with a receive that only says "would block". So while
// the session does not block (Buffering), the wire
// - receives in large pieces and hands libssh2 what it asks for from memory;
// - once a receive has come back short, says "would block" without asking the socket again until
//   told that a wait found it readable (Readable);
// - keeps what libssh2 sends until Flush sends it in one piece. Flush after every libssh2 call.
// A blocking session reaches the socket directly, since libssh2 then waits on the socket itself.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "tunnel/socket_platform.h"

class SshWire {
 public:
  void Buffering(bool on) {
    buffering_ = on;
    empty_ = false;
  }
  // libssh2's receive and send: the count, or -errno as libssh2's own give.
  std::ptrdiff_t Receive(socket_t socket, char* buffer, std::size_t length, int flags);
  std::ptrdiff_t Send(socket_t socket, const char* data, std::size_t length, int flags);
  void Readable() { empty_ = false; }
  // Bytes received that libssh2 has not taken yet.
  bool HasInput() const { return inEnd_ > inAt_; }
  // Sends whatever is kept, waiting for room until the deadline. 0, or a Winsock error number
  // (10060 when the deadline passed); what was not sent is then dropped.
  int Flush(socket_t socket, std::chrono::steady_clock::time_point deadline);

 private:
  static constexpr std::size_t kReceivePiece = 256 * 1024;

  std::unique_ptr<char[]> in_;
  std::size_t inAt_ = 0;
  std::size_t inEnd_ = 0;
  std::string out_;
  bool buffering_ = false;
  // The last receive found the socket empty, and no wait has found it readable since.
  bool empty_ = false;
};
