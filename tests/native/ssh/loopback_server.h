#pragma once
// A plain TCP server on 127.0.0.1 and a free port, standing in for the database at the far end of
// the tunnel. Each accepted connection runs the handler on its own thread. Destruction stops
// accepting, shuts every connection down and joins every thread.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
 public:
  // Gets the connected socket; returns when done with it. The server closes it afterwards.
  using Handler = std::function<void(int fd)>;

  explicit LoopbackServer(Handler handler);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int Port() const { return port_; }
  // "127.0.0.1:port", as a tunnel target.
  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }
  int Accepted() const { return accepted_.load(); }

  // Sends back every byte until the peer closes.
  static Handler Echo();
  // Sends text, then closes.
  static Handler SayAndClose(std::string text);
  // Reads everything and answers nothing, until the peer closes.
  static Handler Silent();

 private:
  void AcceptLoop();

  Handler handler_;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  std::vector<int> connections_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};
