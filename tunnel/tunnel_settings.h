#pragma once
// The settings a tunnel listener hands each relay, copied when it starts.
#include <string>

struct TunnelSettings {
  std::string sshServer;
  std::string sshUserName;
  std::string sshPassword;
  // The database host as the SSH server sees it; empty when the database does not use the tunnel.
  std::string tunnelTarget;
};
