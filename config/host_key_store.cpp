#include "config/host_key_store.h"

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

HostKeyTrust::Answer HostKeyStore::Check(const std::string& offered) {
  std::lock_guard<std::mutex> guard(lock_);
  std::string pinned = ReadLocked();
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
  WriteSettingString(registry_, kSSHHostKeyValue, "", kSettingsSection);
}
