#pragma once
// The pinned SSH host key, with its one owner: relays check and pin through this store on their own
// threads, under its lock, and it alone writes the "SSH Host Key" value. The settings save never
// writes that value, so neither quit nor the dialog can overwrite a pin a relay has just stored.
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "config/reg.h"
#include "tunnel/host_key_trust.h"

class HostKeyStore final : public HostKeyTrust, public std::enable_shared_from_this<HostKeyStore> {
 public:
  struct Refusal {
    std::string offered;
    std::chrono::system_clock::time_point when;
  };
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // The registry is used from relay threads too: each of its calls must stand alone.
  explicit HostKeyStore(SettingsRegistry& registry, Clock clock = &std::chrono::system_clock::now);

  std::string Pinned() override;
  Answer Check(const std::string& offered) override;
  void Refused(const std::string& offered) override;

  // The last refusal since the store was made, for the dialog.
  std::optional<Refusal> LastRefusal();
  // Empties the pin, so that the next connection pins what it meets. Views made before it may
  // still compare with a later pin, but never set one.
  void Forget();
  // The store as the relays of one listener see it: made when the listener starts.
  std::shared_ptr<HostKeyTrust> View();

 private:
  class ListenerView;
  std::string ReadLocked();
  Answer CheckFrom(unsigned generation, const std::string& offered);

  SettingsRegistry& registry_;
  Clock clock_;
  std::mutex lock_;
  std::optional<Refusal> lastRefusal_;
  unsigned generation_ = 0;
};
