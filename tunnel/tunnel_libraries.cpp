#include "tunnel/tunnel_libraries.h"

#include <mutex>

#include "tunnel/blcksock.h"
#include "tunnel/ssl_libssh2.h"

namespace {

struct State {
  std::mutex lock;
  int users = 0;
  bool sshStarted = false;
};

State& Shared() {
  static State state;
  return state;
}

void Acquire() {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.users++ == 0) state.sshStarted = StartLibSSH2();
}

}  // namespace

TunnelLibraries::TunnelLibraries() { Acquire(); }

TunnelLibraries::TunnelLibraries(const TunnelLibraries&) { Acquire(); }

TunnelLibraries::~TunnelLibraries() {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.lock);
  if (--state.users > 0) return;
  if (state.sshStarted) StopLibSSH2();
  state.sshStarted = false;
  StopSocketInterface();
}

bool TunnelLibraries::SSHAvailable() {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.sshStarted;
}

int TunnelLibraries::Users() {
  State& state = Shared();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.users;
}
