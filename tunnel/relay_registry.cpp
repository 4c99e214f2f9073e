#include "tunnel/relay_registry.h"

RelayRegistry::Membership::Membership(RelayRegistry& registry) : state_(registry.state_) {
  std::lock_guard<std::mutex> guard(state_->lock);
  entry_ = state_->relays.emplace(state_->relays.end());
}

RelayRegistry::Membership::~Membership() {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->relays.erase(entry_);
  state_->left.notify_all();
}

void RelayRegistry::Membership::Watch(socket_t local, socket_t ssh) {
  std::lock_guard<std::mutex> guard(state_->lock);
  entry_->local = local;
  entry_->ssh = ssh;
  if (entry_->ended) ShutDown(*entry_);
}

bool RelayRegistry::Membership::Ended() {
  std::lock_guard<std::mutex> guard(state_->lock);
  return entry_->ended;
}

bool RelayRegistry::EndAll(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> guard(state_->lock);
  for (Entry& entry : state_->relays) {
    entry.ended = true;
    ShutDown(entry);
  }
  return state_->left.wait_for(guard, limit, [this] { return state_->relays.empty(); });
}

std::size_t RelayRegistry::Count() {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->relays.size();
}

void RelayRegistry::ShutDown(const Entry& entry) {
  // Only shut down, never closed here: the relay still owns the handles and closes them itself.
  if (entry.local != kInvalidSocket) shutdown(entry.local, kShutBoth);
  if (entry.ssh != kInvalidSocket) shutdown(entry.ssh, kShutBoth);
}
