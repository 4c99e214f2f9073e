#pragma once
// A server on 127.0.0.1 whose accept queue is full: Linux then drops every further connection
// attempt unanswered, as a firewall does, so a connect to it waits for the system's own time-out.
// Under Wine the sockets are the host's, so the same holds there.
#include <string>
#include <vector>

#include "tunnel/socket_platform.h"

class FullAcceptQueue {
 public:
  FullAcceptQueue() : listener_(OpenSocket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_type length = sizeof address;
    bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_.get(), 0);
    getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    // Enough connections that the queue stays full whatever the system's rounding of the backlog.
    for (int i = 0; i < 4; ++i) {
      fillers_.emplace_back(OpenSocket(AF_INET, SOCK_STREAM, 0));
      SetBlocking(fillers_.back().get(), false);
      connect(fillers_.back().get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
  }
  // "127.0.0.1:port", as an SSH Server setting.
  std::string Server() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  unique_socket listener_;
  std::vector<unique_socket> fillers_;
  int port_ = 0;
};
