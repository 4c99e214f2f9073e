#pragma once
// One relay per connection the tunnel listener accepts: an SSH session to the SSH server with one
// "direct-tcpip" channel to the database host, and bytes copied both ways until either side ends.
// The relay frees itself when it ends.
#include <cstdint>
#include <string>

#include "runtime/thread.h"
#include "tunnel/blcksock.h"
#include "tunnel/relay_registry.h"
#include "tunnel/tunnel_libraries.h"
#include "tunnel/tunnel_settings.h"

class TThreadSSHProxyClient final : public TThread {
 public:
  static constexpr std::int32_t kRelayWait = 500;
  static constexpr std::uint16_t kSSHPort = 22;
  static constexpr std::uint16_t kDatabasePort = 3306;

  // Takes ownership of the accepted handle at once, so that it is closed even if no thread starts.
  // Registered with relays from here until it is destroyed.
  TThreadSSHProxyClient(socket_t clientHandle, const TunnelSettings& settings, RelayRegistry& relays);

 protected:
  void Execute() override;

 private:
  void Relay(TTCPBlockSocket& local, TTCPBlockSocket& ssh);

  // Holds libssh2 and the socket library for as long as this relay may use them.
  TunnelLibraries libraries_;
  RelayRegistry::Membership membership_;
  unique_socket clientHandle_;
  TunnelSettings settings_;
};

// One pass of the relay: waits up to waitMs (-1: no limit) for either side and copies what came,
// until a wait passes with nothing. False when the relay must end: a wait failed, or a side failed
// or closed, and then a side's LastErrorCode says why; a stream is either whole or closed.
bool RelaySockets(TTCPBlockSocket& local, TTCPBlockSocket& remote, std::int32_t waitMs);
// Copies what the source has at hand to the destination. A secured source is read until it has
// nothing more, since its library may hold data the raw socket no longer shows. False when a side
// failed, with its LastErrorCode set.
bool PumpSocket(TTCPBlockSocket& source, TTCPBlockSocket& destination);
