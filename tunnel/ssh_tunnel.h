#pragma once
// The tunnel as the module drives it: a use of libssh2 and the socket library, at most one
// listener, and every relay ended before the module goes.
#include <memory>
#include <optional>
#include <string>

#include "tunnel/relay_registry.h"
#include "tunnel/tunnel_libraries.h"
#include "tunnel/tunnel_settings.h"

class TThreadSSHProxyListener;

class SSHTunnel {
 public:
  // listenPort is the database client's default; tests give "0" to let the system choose.
  explicit SSHTunnel(std::string listenPort = "3306");
  ~SSHTunnel();
  SSHTunnel(const SSHTunnel&) = delete;
  SSHTunnel& operator=(const SSHTunnel&) = delete;

  // Takes a use of libssh2 (loading and starting it if none is held), before any relay exists;
  // without it relays fail to start security.
  void StartLibrary();
  // Replaces a running listener: the old one is stopped first, so the port is free again. Returns
  // once the new one listens (or failed to), so connections made right after are not refused.
  void StartListener(const TunnelSettings& settings);
  // Terminate and wait: up to one accept wait.
  void StopListener();
  bool ListenerActive() const { return listener_ != nullptr; }
  // The running listener's port, once it listens; 0 when none runs or it could not listen.
  unsigned short ListeningPort();
  // Stops the listener, ends every relay and waits a moment for each, then lets go of the
  // libraries. Quick whatever the relays do: one still in a name lookup is left to end by itself.
  void Stop();

  RelayRegistry& Relays() { return relays_; }

 private:
  std::string listenPort_;
  RelayRegistry relays_;
  std::unique_ptr<TThreadSSHProxyListener> listener_;
  std::optional<TunnelLibraries> libraries_;
};
