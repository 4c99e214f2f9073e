#include "native/ssh/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenFd_, 64) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      pipe2(wakeFds_, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot start the loopback server");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  (void)!write(wakeFds_[1], "x", 1);
  acceptor_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : connections_) shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& thread : threads_) thread.join();
  for (int fd : connections_) close(fd);
  close(listenFd_);
  close(wakeFds_[0]);
  close(wakeFds_[1]);
}

void LoopbackServer::AcceptLoop() {
  for (;;) {
    pollfd polls[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (poll(polls, 2, -1) < 0) continue;
    if (polls[1].revents) return;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++accepted_;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.push_back(fd);
    threads_.emplace_back([this, fd] {
      handler_(fd);
      shutdown(fd, SHUT_RDWR);
    });
  }
}

LoopbackServer::Handler LoopbackServer::Echo() {
  return [](int fd) {
    char buffer[65536];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      for (ssize_t sent = 0; sent < n;) {
        const ssize_t m = send(fd, buffer + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
        if (m <= 0) return;
        sent += m;
      }
    }
  };
}

LoopbackServer::Handler LoopbackServer::SayAndClose(std::string text) {
  return [text](int fd) { (void)!send(fd, text.data(), text.size(), MSG_NOSIGNAL); };
}

LoopbackServer::Handler LoopbackServer::Silent() {
  return [](int fd) {
    char buffer[4096];
    while (recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
  };
}
