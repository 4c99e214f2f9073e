#include "config/host_key_store.h"

#include <utility>

#include "config/settings.h"

HostKeyStore::HostKeyStore(SettingsRegistry& registry, Clock clock)
    : registry_(registry), clock_(std::move(clock)) {}

std::string HostKeyStore::ReadLocked() {
  return ReadSettingString(registry_, kSSHHostKeyValue, kSettingsSection);
}

std::string HostKeyStore::Pinned() {
  std::lock_guard<std::mutex> guard(lock_);
  return ReadLocked();
}

class HostKeyStore::ListenerView final : public HostKeyTrust {
 public:
  ListenerView(std::shared_ptr<HostKeyStore> store, unsigned generation)
      : store_(std::move(store)), generation_(generation) {}
  std::string Pinned() override { return store_->Pinned(); }
  Answer Check(const std::string& offered) override { return store_->CheckFrom(generation_, offered); }
  void Refused(const std::string& offered) override { store_->Refused(offered); }

 private:
  const std::shared_ptr<HostKeyStore> store_;
  const unsigned generation_;
};

std::shared_ptr<HostKeyTrust> HostKeyStore::View() {
  std::lock_guard<std::mutex> guard(lock_);
  return std::make_shared<ListenerView>(shared_from_this(), generation_);
}

HostKeyTrust::Answer HostKeyStore::Check(const std::string& offered) {
  unsigned generation;
  {
    std::lock_guard<std::mutex> guard(lock_);
    generation = generation_;
  }
  return CheckFrom(generation, offered);
}

HostKeyTrust::Answer HostKeyStore::CheckFrom(unsigned generation, const std::string& offered) {
  std::lock_guard<std::mutex> guard(lock_);
  std::string pinned = ReadLocked();
  if (pinned.empty() && generation != generation_) return {Verdict::Forgotten, ""};
  if (pinned.empty()) {
    WriteSettingString(registry_, kSSHHostKeyValue, offered, kSettingsSection);
    return {Verdict::Pinned, ""};
  }
  if (pinned == offered) return {Verdict::Matches, pinned};
  return {Verdict::Mismatch, pinned};
}

void HostKeyStore::Refused(const std::string& offered) {
  std::lock_guard<std::mutex> guard(lock_);
  lastRefusal_ = Refusal{offered, clock_()};
}

std::optional<HostKeyStore::Refusal> HostKeyStore::LastRefusal() {
  std::lock_guard<std::mutex> guard(lock_);
  return lastRefusal_;
}

void HostKeyStore::Forget() {
  std::lock_guard<std::mutex> guard(lock_);
  ++generation_;
  WriteSettingString(registry_, kSSHHostKeyValue, "", kSettingsSection);
}
