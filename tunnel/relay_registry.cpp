#include "tunnel/relay_registry.h"

RelayRegistry::Membership::Membership(RelayRegistry& registry) : registry_(registry) {
  std::lock_guard<std::mutex> guard(registry_.lock_);
  entry_ = registry_.relays_.emplace(registry_.relays_.end());
}

RelayRegistry::Membership::~Membership() {
  std::lock_guard<std::mutex> guard(registry_.lock_);
  registry_.relays_.erase(entry_);
  registry_.left_.notify_all();
}

void RelayRegistry::Membership::Watch(socket_t local, socket_t ssh) {
  std::lock_guard<std::mutex> guard(registry_.lock_);
  *entry_ = Sockets{local, ssh};
  if (registry_.ending_) ShutDown(*entry_);
}

void RelayRegistry::EndAll() {
  std::unique_lock<std::mutex> guard(lock_);
  ending_ = true;
  for (const Sockets& sockets : relays_) ShutDown(sockets);
  left_.wait(guard, [this] { return relays_.empty(); });
  ending_ = false;
}

std::size_t RelayRegistry::Count() {
  std::lock_guard<std::mutex> guard(lock_);
  return relays_.size();
}

void RelayRegistry::ShutDown(const Sockets& sockets) {
  // Only shut down, never closed here: the relay still owns the handles and closes them itself.
  if (sockets.local != kInvalidSocket) shutdown(sockets.local, kShutBoth);
  if (sockets.ssh != kInvalidSocket) shutdown(sockets.ssh, kShutBoth);
}
