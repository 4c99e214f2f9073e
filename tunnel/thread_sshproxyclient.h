#pragma once
// One relay per connection the tunnel listener accepts: an SSH session to the SSH server with one
// "direct-tcpip" channel to the database host, and bytes copied both ways until either side ends.
// The relay frees itself when it ends.
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/thread.h"
#include "tunnel/blcksock.h"
#include "tunnel/relay_registry.h"

// The SSH server setting: "host:port" when it has exactly two fields under ":", else the whole
// text as the host, with port "22".
struct SSHServerAddress {
  std::string host;
  std::string port;
};
SSHServerAddress SplitSSHServer(std::string_view sshServer);

// The channel's destination for a tunnel target: a "host:port" target as it stands, a bare host
// on port 3306, and empty for an empty target.
std::string ChannelDestination(std::string_view tunnelTarget);

class TThreadSSHProxyClient final : public TThread {
 public:
  static constexpr std::int32_t kRelayWait = 500;

  // Takes ownership of the accepted handle at once, so that it is closed even if no thread starts.
  // Registered with relays from here until it is destroyed.
  TThreadSSHProxyClient(socket_t clientHandle, const std::string& sshServer, const std::string& sshUserName,
                        const std::string& sshPassword, const std::string& tunnelTarget,
                        RelayRegistry& relays);

 protected:
  void Execute() override;

 private:
  void Relay(TTCPBlockSocket& local, TTCPBlockSocket& ssh);

  RelayRegistry::Membership membership_;
  unique_socket clientHandle_;
  SSHServerAddress server_;
  std::string sshUserName_;
  std::string sshPassword_;
  std::string tunnelTarget_;
};

// One pass of the relay: waits up to waitMs (-1: no limit) for either side and copies what came,
// until a wait passes with nothing, or an error. False when its first step or a wait fails.
bool RelaySockets(TTCPBlockSocket& local, TTCPBlockSocket& remote, std::int32_t waitMs);
// Copies what the source has at hand to the destination. A secured source is read until it has
// nothing more, since its library may hold data the raw socket no longer shows.
void PumpSocket(TTCPBlockSocket& source, TTCPBlockSocket& destination);
