#include "tunnel/ssh_tunnel.h"

#include <utility>

#include "diag/globals.h"
#include "tunnel/thread_sshproxylistener.h"

SSHTunnel::SSHTunnel(std::string listenPort) : listenPort_(std::move(listenPort)) {}

SSHTunnel::~SSHTunnel() { Stop(); }

void SSHTunnel::StartLibrary() {
  if (!libraries_) libraries_.emplace();
}

void SSHTunnel::StartListener(const TunnelSettings& settings) {
  StopListener();
  listener_ = std::make_unique<TThreadSSHProxyListener>(settings, relays_, listenPort_);
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
  // The listener takes up to one accept wait; with this the whole stays well under two seconds.
  constexpr auto kRelayEndLimit = std::chrono::milliseconds(700);
  StopListener();
  if (!relays_.EndAll(kRelayEndLimit))
    LogDebug(
        "SSHTunnel.Stop - a relay did not end in time (it may be looking up its server's name or reading "
        "its key file); it ends by itself and sends nothing more");
  libraries_.reset();
}
