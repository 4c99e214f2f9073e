#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tunnel/socket_platform.h"

// A database client's end of the tunnel: a plain connection to the listener. One thread may send
// while another receives, as on any socket; the socket layer's objects are not made for that.
class Client {
 public:
  explicit Client(unsigned short port) : socket_(OpenSocket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  void Send(const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
      const int n = SendSome(socket_.get(), data.data() + sent,
                             static_cast<int>(std::min<std::size_t>(data.size() - sent, 1 << 20)));
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(sent, data.size());
  }
  // Exactly size bytes, or fewer when the connection ends or nothing comes for 20 s.
  std::string Receive(std::size_t size) {
    std::string received;
    std::vector<char> buffer(65536);
    while (received.size() < size && Readable()) {
      const auto want = static_cast<int>(std::min(buffer.size(), size - received.size()));
      const int n = RecvSome(socket_.get(), buffer.data(), want);
      if (n <= 0) break;
      received.append(buffer.data(), static_cast<std::size_t>(n));
    }
    return received;
  }
  // True when the relay closed the connection (the read sees its end, not a time-out).
  bool ClosedByRelay() {
    char byte;
    return Readable() && RecvSome(socket_.get(), &byte, 1) <= 0;
  }

 private:
  bool Readable() {
    SocketWait wait{static_cast<std::uintptr_t>(socket_.get()), true};
    return WaitSockets(&wait, 1, 20000) > 0;
  }
  unique_socket socket_;
};
