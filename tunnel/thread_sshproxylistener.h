#pragma once
// The tunnel's listener: accepts connections on local port 3306 and hands each to a new relay with
// the SSH settings it was made with. Owned by the module, stopped by terminate-and-wait.
#include <chrono>
#include <cstdint>
#include <future>
#include <string>

#include "runtime/thread.h"
#include "tunnel/relay_registry.h"
#include "tunnel/tunnel_settings.h"

class TThreadSSHProxyListener final : public TThread {
 public:
  // The copies of the settings it hands every relay; the thread starts at once. port is the
  // database client's default; tests give "0" to let the system choose.
  TThreadSSHProxyListener(const TunnelSettings& settings, RelayRegistry& relays,
                          const std::string& port = "3306");
  ~TThreadSSHProxyListener() override;

  // Blocks until the socket listens, or failed to, then gives its port: 0 when it could not listen.
  std::uint16_t ListeningPort() { return port_.get(); }
  // Waits at most limit for the socket to listen, or to fail to; false when the limit passed.
  bool WaitListening(std::chrono::milliseconds limit) const {
    return port_.wait_for(limit) == std::future_status::ready;
  }

 protected:
  void Execute() override;

 private:
  void AcceptConnections();

  const TunnelSettings settings_;
  const std::string listenPort_;
  RelayRegistry& relays_;
  std::promise<std::uint16_t> listening_;
  std::shared_future<std::uint16_t> port_;
};
