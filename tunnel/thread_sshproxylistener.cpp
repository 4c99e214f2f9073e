#include "tunnel/thread_sshproxylistener.h"

#include <memory>
#include <thread>

#include "diag/globals.h"
#include "tunnel/blcksock.h"
#include "tunnel/thread_sshproxyclient.h"

TThreadSSHProxyListener::TThreadSSHProxyListener(const std::string& sshServer, const std::string& sshUserName,
                                                 const std::string& sshPassword,
                                                 const std::string& tunnelTarget, RelayRegistry& relays,
                                                 const std::string& port)
    : sshServer_(sshServer),
      sshUserName_(sshUserName),
      sshPassword_(sshPassword),
      tunnelTarget_(tunnelTarget),
      listenPort_(port),
      relays_(relays),
      port_(listening_.get_future().share()) {
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
  {
    TTCPBlockSocket socket;
    socket.MakeSocket();
    socket.SetLingerTime(true, 10);
    // Loopback only: the database's credentials pass through here, and the SSH account behind it
    // is nobody else's to use.
    socket.Bind("127.0.0.1", listenPort_);
    socket.Listen();
    listening_.set_value(socket.LastErrorCode() == 0 ? socket.LocalPort() : 0);
    LogDebug("TThreadSSHProxyListener.Execute - listening");
    while (!Terminated()) {
      if (socket.CanRead(1000)) {
        const socket_t client = socket.Accept();
        if (socket.LastErrorCode() == 0) {
          LogDebug("TThreadSSHProxyListener.Execute - got connection, starting client...");
          TThread::StartFreeOnTerminate(std::make_unique<TThreadSSHProxyClient>(
              client, sshServer_, sshUserName_, sshPassword_, tunnelTarget_, relays_));
        }
      }
      std::this_thread::yield();
    }
  }
  LogDebug("TThreadSSHProxyListener.Execute - terminated");
}
