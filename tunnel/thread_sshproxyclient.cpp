#include "tunnel/thread_sshproxyclient.h"

#include <memory>
#include <optional>
#include <thread>

#include "diag/globals.h"
#include "tunnel/host_port.h"

namespace {

// Under Wine every receive, send and wait is a round trip to the wine server: the more each one
// moves, the fewer of them. libssh2 hands out several queued packets in one read.
constexpr std::int32_t kPumpBuffer = 256 * 1024;

bool Failed(const TTCPBlockSocket& a, const TTCPBlockSocket& b) {
  return a.LastErrorCode() != 0 || b.LastErrorCode() != 0;
}

// A secured socket's plug never blocks, so it can be read without a wait first.
bool IsChannel(const TTCPBlockSocket& socket) { return socket.SecurityPlug().SecurityActive(); }

// A channel whose socket the wait did not find readable holds input only if the library queued
// some while it was written to; asking costs no receive that would only say it would block.
bool ChannelHasInput(TTCPBlockSocket& socket) {
  return IsChannel(socket) && socket.SecurityPlug().InputWaiting();
}

// Fails the socket with the wait's own error when the wait fails.
bool WaitReadable(TTCPBlockSocket& socket, std::int32_t waitMs) {
  SocketWait wait{static_cast<std::uintptr_t>(socket.SocketHandle()), true};
  if (WaitSockets(&wait, 1, waitMs) < 0) {
    socket.Fail(SocketLastError());
    return false;
  }
  if (wait.readable) socket.SecurityPlug().SocketReadable();
  return true;
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
      if (!IsChannel(destination)) {
        // A plain socket takes everything or fails; taking nothing without an error is a failure.
        destination.Fail(kWsaConnAborted);
        return false;
      }
      if (!PumpSocket(destination, source)) return false;
      if (!WaitReadable(destination, TThreadSSHProxyClient::kRelayWait)) return false;
    }
  }
  return true;
}

// The field's host and port, or nothing after a log line that quotes it.
std::optional<HostPort> CheckedField(const char* name, const std::string& field, std::uint16_t defaultPort) {
  std::string why;
  std::optional<HostPort> parsed = ParseHostPort(field, defaultPort, why);
  if (!parsed)
    LogDebug(std::string("TThreadSSHProxyClient.Execute - refused: the ") + name + " setting \"" + field +
             "\" is not a host or host:port (" + why + "); correct it in the SSH or MySQL tab");
  return parsed;
}

}  // namespace

bool PumpSocket(TTCPBlockSocket& source, TTCPBlockSocket& destination) {
  // On the heap: a pump may run inside another's SendAll.
  const auto buffer = std::make_unique_for_overwrite<char[]>(kPumpBuffer);
  const bool channel = IsChannel(source);
  do {
    const std::int32_t n = source.RecvBytes(buffer.get(), kPumpBuffer);
    if (source.LastErrorCode() != 0) return false;
    if (n <= 0) return true;
    if (!SendAll(destination, source, buffer.get(), n)) return false;
    // A channel read drains the socket before it hands out data, so the channel is read until the
    // library holds nothing more rather than until a receive would block.
  } while (channel && source.SecurityPlug().InputWaiting());
  return true;
}

bool RelaySockets(TTCPBlockSocket& local, TTCPBlockSocket& remote, std::int32_t waitMs) {
  if (!local.ReadAhead().empty()) {
    const std::string pending = local.RecvAvailable(waitMs);
    if (local.LastErrorCode() != 0) return false;
    remote.SendByteString(pending);
    if (remote.LastErrorCode() != 0) return false;
  }
  // Nothing may sit inside the SSH library while this waits on the raw sockets: it is read until
  // it would block after every wake-up and after every write to it.
  if (IsChannel(remote) && !PumpSocket(remote, local)) return false;
  for (;;) {
    SocketWait waits[2] = {{static_cast<std::uintptr_t>(local.SocketHandle()), true},
                           {static_cast<std::uintptr_t>(remote.SocketHandle()), true}};
    const int ready = WaitSockets(waits, 2, waitMs);
    // A failed wait would fail again at once: the relay ends rather than spin.
    if (ready < 0) {
      local.Fail(SocketLastError());
      return false;
    }
    if (ready == 0) return true;
    if (waits[1].readable) remote.SecurityPlug().SocketReadable();
    if ((waits[1].readable || ChannelHasInput(remote)) && !PumpSocket(remote, local)) return false;
    if (waits[0].readable) {
      if (!PumpSocket(local, remote)) return false;
      if (ChannelHasInput(remote) && !PumpSocket(remote, local)) return false;
    }
    std::this_thread::yield();
  }
}

TThreadSSHProxyClient::TThreadSSHProxyClient(socket_t clientHandle, const TunnelSettings& settings,
                                             RelayRegistry& relays)
    : membership_(relays), clientHandle_(clientHandle), settings_(settings) {
  membership_.Watch(clientHandle, kInvalidSocket);
}

void TThreadSSHProxyClient::Execute() {
  LogDebug("TThreadSSHProxyClient.Execute - started");
  TTCPBlockSocket local;
  local.SetSocketHandle(clientHandle_.release());
  // The listening socket's linger setting came along with the accept; it would make our close a
  // reset, and the client could lose the server's last words.
  local.SetLingerTime(false, 0);
  TTCPBlockSocket ssh;
  bool finished = false;
  try {
    Relay(local, ssh);
    finished = true;
  } catch (...) {
  }
  // Still watched while the session closes and the client is drained, so that quit can cut both;
  // no longer watched once the handles are closed and perhaps reused.
  ssh.SecurityPlug().EndSecurity();
  local.FinishConnection();
  ssh.FinishConnection();
  membership_.Unwatch();
  local.CloseConnection();
  ssh.CloseConnection();
  if (finished) LogDebug("TThreadSSHProxyClient.Execute - finished");
}

void TThreadSSHProxyClient::Relay(TTCPBlockSocket& local, TTCPBlockSocket& ssh) {
  // Checked before anything leaves this machine; the listener keeps running, since the dialog may
  // mend the field.
  const std::optional<HostPort> server = CheckedField("SSH Server", settings_.sshServer, kSSHPort);
  if (!server) return;
  const std::optional<HostPort> target = CheckedField("MySQL Server", settings_.tunnelTarget, kDatabasePort);
  if (!target) return;

  TCustomSSL& plug = ssh.SecurityPlug();
  plug.SSLType = TSSLType::LT_SSHv2;
  plug.Username = settings_.sshUserName;
  if (settings_.sshKeyFile.empty()) {
    plug.Password = settings_.sshPassword;
  } else {
    plug.PrivateKeyFile = settings_.sshKeyFile;
    plug.KeyPassword = settings_.sshPassword;
  }
  plug.HostKeys = settings_.hostKeys;
  ssh.ConnectInterrupted = [this] { return membership_.Ended(); };
  ssh.Connect(server->host, std::to_string(server->port));
  membership_.Watch(local.SocketHandle(), ssh.SocketHandle());
  if (ssh.LastErrorCode() != 0) return;
  plug.SSHChannelType = "direct-tcpip";
  plug.SSHChannelArg1 = target->host;
  plug.SSHChannelArg2 = std::to_string(target->port);
  ssh.StartSecurity();
  while (local.LastErrorCode() == 0 && ssh.LastErrorCode() == 0) {
    if (!RelaySockets(local, ssh, kRelayWait)) break;
    std::this_thread::yield();
  }
}
