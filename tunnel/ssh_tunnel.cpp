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
