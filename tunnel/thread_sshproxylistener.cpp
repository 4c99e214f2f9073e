#include "tunnel/thread_sshproxylistener.h"

#include <memory>
#include <system_error>
#include <thread>

#include "diag/globals.h"
#include "tunnel/blcksock.h"
#include "tunnel/thread_sshproxyclient.h"

namespace {

constexpr std::int32_t kAcceptWait = 1000;
// After a failed accept: long enough not to spin, short enough to serve the next client soon.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(1000);

std::string SocketError(const TBlockSocket& socket) {
  return std::to_string(socket.LastErrorCode()) + " " + socket.LastErrorText();
}

}  // namespace

TThreadSSHProxyListener::TThreadSSHProxyListener(const TunnelSettings& settings, RelayRegistry& relays,
                                                 const std::string& port)
    : settings_(settings), listenPort_(port), relays_(relays), port_(listening_.get_future().share()) {
  LogDebug("TThreadSSHProxyListener.Create");
  Start();
}

TThreadSSHProxyListener::~TThreadSSHProxyListener() {
  // Before the members go: Execute reads them until it ends.
  Terminate();
  WaitFor();
}

void TThreadSSHProxyListener::Execute() {
  LogDebug("TThreadSSHProxyListener.Execute - started");
  try {
    AcceptConnections();
  } catch (...) {
  }
  // Whoever waits for the port must not wait for ever, however this ended. Only this thread sets it.
  if (port_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) listening_.set_value(0);
  LogDebug("TThreadSSHProxyListener.Execute - terminated");
}

void TThreadSSHProxyListener::AcceptConnections() {
  TTCPBlockSocket socket;
  socket.MakeSocket();
  socket.SetLingerTime(true, 10);
  // Loopback only: the database's credentials pass through here, and the SSH account behind it
  // is nobody else's to use.
  socket.Bind("127.0.0.1", listenPort_);
  // A socket that failed to bind must not listen: the system would bind it anywhere.
  if (socket.LastErrorCode() == 0) socket.Listen();
  if (socket.LastErrorCode() != 0) {
    LogDebug("TThreadSSHProxyListener.Execute - cannot listen on 127.0.0.1:" + listenPort_ + ": " +
             SocketError(socket) + "; the tunnel is off until the port is free and the settings are saved");
    listening_.set_value(0);
    return;
  }
  listening_.set_value(socket.LocalPort());
  LogDebug("TThreadSSHProxyListener.Execute - listening");
  bool acceptFailing = false;
  while (!Terminated()) {
    if (socket.CanRead(kAcceptWait)) {
      const socket_t client = socket.Accept();
      if (socket.LastErrorCode() == 0) {
        acceptFailing = false;
        LogDebug("TThreadSSHProxyListener.Execute - got connection, starting client...");
        try {
          TThread::StartFreeOnTerminate(std::make_unique<TThreadSSHProxyClient>(client, settings_, relays_));
        } catch (const std::system_error& error) {
          LogDebug(std::string("TThreadSSHProxyListener.Execute - cannot start a relay: ") + error.what());
        }
      } else {
        // Such as too many open files with a connection still queued: the wait would answer at
        // once again, so pause, and say so once rather than on every try.
        if (!std::exchange(acceptFailing, true))
          LogDebug("TThreadSSHProxyListener.Execute - accepting a connection failed: " + SocketError(socket) +
                   "; trying again every second");
        WaitTerminated(kAcceptRetryPause);
      }
    } else if (socket.LastErrorCode() != 0) {
      LogDebug("TThreadSSHProxyListener.Execute - waiting for connections failed: " + SocketError(socket) +
               "; the tunnel is off until the settings are saved again");
      return;
    }
    std::this_thread::yield();
  }
}
