#include "tunnel/thread_sshproxyclient.h"

#include <thread>

#include "diag/globals.h"
#include "track/globals_misc.h"

namespace {

constexpr std::int32_t kPumpBuffer = 65535;

bool Failed(const TTCPBlockSocket& a, const TTCPBlockSocket& b) {
  return a.LastErrorCode() > 0 || b.LastErrorCode() > 0;
}

// A secured socket's plug never blocks, so it can be read without a wait first.
bool IsChannel(const TTCPBlockSocket& socket) { return socket.SecurityPlug().SecurityActive(); }

bool WaitReadable(TTCPBlockSocket& socket, std::int32_t waitMs) {
  SocketWait wait{static_cast<std::uintptr_t>(socket.SocketHandle()), true};
  return WaitSockets(&wait, 1, waitMs) >= 0;
}

// Sends n bytes whole. A channel whose window is full takes nothing until the peer opens it again;
// that news arrives as input on the channel, so meanwhile the channel is read (which also moves
// its data the other way) and then waited on.
bool SendAll(TTCPBlockSocket& destination, TTCPBlockSocket& source, const char* data, std::int32_t n) {
  std::int32_t sent = 0;
  while (sent < n) {
    const std::int32_t piece = destination.SendBytes(data + sent, n - sent);
    if (piece > 0) sent += piece;
    std::this_thread::yield();
    if (Failed(source, destination)) return false;
    if (piece <= 0) {
      if (!IsChannel(destination)) return false;
      PumpSocket(destination, source);
      if (Failed(source, destination)) return false;
      if (!WaitReadable(destination, TThreadSSHProxyClient::kRelayWait)) return false;
    }
  }
  return true;
}

}  // namespace

SSHServerAddress SplitSSHServer(std::string_view sshServer) {
  if (CountFields(sshServer, ':') == 2) return {GetField(sshServer, ':', 1), GetField(sshServer, ':', 2)};
  return {std::string(sshServer), "22"};
}

std::string ChannelDestination(std::string_view tunnelTarget) {
  if (tunnelTarget.empty() || CountFields(tunnelTarget, ':') == 2) return std::string(tunnelTarget);
  return std::string(tunnelTarget) + ":3306";
}

void PumpSocket(TTCPBlockSocket& source, TTCPBlockSocket& destination) {
  char buffer[kPumpBuffer];
  const bool channel = IsChannel(source);
  do {
    const std::int32_t n = source.RecvBytes(buffer, kPumpBuffer);
    if (source.LastErrorCode() != 0 || n <= 0) return;
    if (!SendAll(destination, source, buffer, n)) return;
  } while (channel);
}

bool RelaySockets(TTCPBlockSocket& local, TTCPBlockSocket& remote, std::int32_t waitMs) {
  if (!local.ReadAhead().empty()) {
    const std::string pending = local.RecvAvailable(waitMs);
    if (local.LastErrorCode() != 0) return false;
    remote.SendByteString(pending);
  }
  // Nothing may sit inside the SSH library while this waits on the raw sockets: it is read until
  // it would block after every wake-up and after every write to it.
  if (IsChannel(remote)) PumpSocket(remote, local);
  while (!Failed(local, remote)) {
    SocketWait waits[2] = {{static_cast<std::uintptr_t>(local.SocketHandle()), true},
                           {static_cast<std::uintptr_t>(remote.SocketHandle()), true}};
    const int ready = WaitSockets(waits, 2, waitMs);
    // A failed wait would fail again at once: the relay ends rather than spin.
    if (ready < 0) return false;
    if (ready == 0) break;
    if (waits[1].readable || IsChannel(remote)) PumpSocket(remote, local);
    if (waits[0].readable && !Failed(local, remote)) {
      PumpSocket(local, remote);
      if (IsChannel(remote) && !Failed(local, remote)) PumpSocket(remote, local);
    }
    std::this_thread::yield();
  }
  return true;
}

TThreadSSHProxyClient::TThreadSSHProxyClient(socket_t clientHandle, const std::string& sshServer,
                                             const std::string& sshUserName, const std::string& sshPassword,
                                             const std::string& tunnelTarget, RelayRegistry& relays)
    : membership_(relays),
      clientHandle_(clientHandle),
      server_(SplitSSHServer(sshServer)),
      sshUserName_(sshUserName),
      sshPassword_(sshPassword),
      tunnelTarget_(tunnelTarget) {
  membership_.Watch(clientHandle, kInvalidSocket);
}

void TThreadSSHProxyClient::Execute() {
  LogDebug("TThreadSSHProxyClient.Execute - started");
  TTCPBlockSocket local;
  local.SetSocketHandle(clientHandle_.release());
  TTCPBlockSocket ssh;
  bool finished = false;
  try {
    Relay(local, ssh);
    finished = true;
  } catch (...) {
  }
  // The registry must not shut down handles that are about to be closed and perhaps reused.
  membership_.Unwatch();
  local.SecurityPlug().EndSecurity();
  ssh.SecurityPlug().EndSecurity();
  local.CloseConnection();
  ssh.CloseConnection();
  if (finished) LogDebug("TThreadSSHProxyClient.Execute - finished");
}

void TThreadSSHProxyClient::Relay(TTCPBlockSocket& local, TTCPBlockSocket& ssh) {
  TCustomSSL& plug = ssh.SecurityPlug();
  plug.SSLType = TSSLType::LT_SSHv2;
  plug.Username = sshUserName_;
  plug.Password = sshPassword_;
  ssh.Connect(server_.host, server_.port);
  membership_.Watch(local.SocketHandle(), ssh.SocketHandle());
  plug.SSHChannelType = "direct-tcpip";
  plug.SSHChannelArg1 = ChannelDestination(tunnelTarget_);
  ssh.StartSecurity();
  while (local.LastErrorCode() == 0 && ssh.LastErrorCode() == 0) {
    if (!RelaySockets(local, ssh, kRelayWait)) break;
    std::this_thread::yield();
  }
}
