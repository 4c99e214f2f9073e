#pragma once
// The tunnel as the module drives it: libssh2 started once, at most one listener, and every relay
// ended and waited for before the module goes.
#include <memory>
#include <string>

#include "tunnel/relay_registry.h"

class TThreadSSHProxyListener;

struct TunnelSettings {
  std::string sshServer;
  std::string sshUserName;
  std::string sshPassword;
  // The database host as the SSH server sees it; empty when the database does not use the tunnel.
  std::string tunnelTarget;
};

class SSHTunnel {
 public:
  // listenPort is the database client's default; tests give "0" to let the system choose.
  explicit SSHTunnel(std::string listenPort = "3306");
  ~SSHTunnel();
  SSHTunnel(const SSHTunnel&) = delete;
  SSHTunnel& operator=(const SSHTunnel&) = delete;

  // Loads and starts libssh2, before any relay exists; without it relays fail to start security.
  void StartLibrary();
  // Replaces a running listener: the old one is stopped first, so the port is free again. Returns
  // once the new one listens (or failed to), so connections made right after are not refused.
  void StartListener(const TunnelSettings& settings);
  // Terminate and wait: up to one accept wait.
  void StopListener();
  bool ListenerActive() const { return listener_ != nullptr; }
  // The running listener's port, once it listens; 0 when none runs or it could not listen.
  unsigned short ListeningPort();
  // Stops the listener, ends every relay and waits for each, then ends libssh2 and Winsock.
  void Stop();

  RelayRegistry& Relays() { return relays_; }

 private:
  std::string listenPort_;
  RelayRegistry relays_;
  std::unique_ptr<TThreadSSHProxyListener> listener_;
  bool libraryStarted_ = false;
};
