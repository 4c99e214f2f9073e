#include "tunnel/ssh_tunnel.h"

#include <utility>

#include "tunnel/blcksock.h"
#include "tunnel/ssl_libssh2.h"
#include "tunnel/thread_sshproxylistener.h"

SSHTunnel::SSHTunnel(std::string listenPort) : listenPort_(std::move(listenPort)) {}

SSHTunnel::~SSHTunnel() { Stop(); }

void SSHTunnel::StartLibrary() {
  if (!libraryStarted_) libraryStarted_ = StartLibSSH2();
}

void SSHTunnel::StartListener(const TunnelSettings& settings) {
  StopListener();
  listener_ = std::make_unique<TThreadSSHProxyListener>(settings.sshServer, settings.sshUserName,
                                                        settings.sshPassword, settings.tunnelTarget, relays_,
                                                        listenPort_);
  // The player may start a track, and so a database connection to the listener, right after Init:
  // a connection made before the socket listens would be refused and its row lost. A listener
  // thread that never gets there must not hang the player, hence the limit.
  listener_->WaitListening(std::chrono::seconds(2));
}

void SSHTunnel::StopListener() {
  if (!listener_) return;
  listener_->Terminate();
  listener_->WaitFor();
  listener_.reset();
}

unsigned short SSHTunnel::ListeningPort() { return listener_ ? listener_->ListeningPort() : 0; }

void SSHTunnel::Stop() {
  StopListener();
  relays_.EndAll();
  if (libraryStarted_) StopLibSSH2();
  libraryStarted_ = false;
  StopSocketInterface();
}
