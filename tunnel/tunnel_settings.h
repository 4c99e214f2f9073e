#pragma once
// The settings a tunnel listener hands each relay, copied when it starts.
#include <memory>
#include <string>

#include "tunnel/host_key_trust.h"

struct TunnelSettings {
  std::string sshServer;
  std::string sshUserName;
  // The password, or the key file's passphrase when there is a key file.
  std::string sshPassword;
  // The database host as the SSH server sees it; empty when the database does not use the tunnel.
  std::string tunnelTarget;
  // A private key file: with it the login uses the key only.
  std::string sshKeyFile = {};
  // The pinned host key; without it the key is only logged.
  std::shared_ptr<HostKeyTrust> hostKeys = {};
};
