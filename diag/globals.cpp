#include "diag/globals.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "diag/CSIntf.h"

namespace {

constexpr std::string_view kPrefix = "[gen_skorrel] ";

struct ClientSlot {
  // Whether a client was published enabled: with logging off, a line costs this one test.
  std::atomic<bool> live{false};
  std::mutex mutex;
  // Each caller holds its own reference while it logs, so the client outlives every line in flight.
  std::shared_ptr<TCodeSite> client;
};

// Made on first use, so a line logged before any other static object exists is safe, and never
// destroyed, so threads that outlive the plug-in's shut-down may log while statics are torn down.
ClientSlot& Slot() {
  union Immortal {
    ClientSlot slot;
    Immortal() : slot() {}
    ~Immortal() {}
  };
  static Immortal immortal;
  return immortal.slot;
}

std::shared_ptr<TCodeSite> Exchange(std::shared_ptr<TCodeSite> client) {
  ClientSlot& slot = Slot();
  std::lock_guard lock(slot.mutex);
  return std::exchange(slot.client, std::move(client));
}

std::shared_ptr<TCodeSite> Current() {
  ClientSlot& slot = Slot();
  std::lock_guard lock(slot.mutex);
  return slot.client;
}

}  // namespace

void LogDebug(std::string_view text) noexcept {
  try {
    if (!Slot().live.load(std::memory_order_relaxed)) return;
    const std::shared_ptr<TCodeSite> client = Current();
    if (!client || !client->Enabled()) return;
    std::string line;
    line.reserve(kPrefix.size() + text.size());
    line.append(kPrefix).append(text);
    client->SendText(line);
  } catch (...) {
    // Logging never fails its caller.
  }
}

std::string LogDestination(std::string_view host, std::string_view systemDrive) {
  std::string destination = "TCP[Host=";
  destination.append(host).append(";RemoteDestinationDetails=Viewer,File[Path=");
  destination.append(systemDrive).append("\\gen_skorrel.csl]]");
  return destination;
}

void StartLogClient(std::shared_ptr<LogPlatform> platform, std::string_view csDebug,
                    std::string_view systemDrive) noexcept {
  try {
    // Configured before it is published, so no other thread's line can reach a client that is
    // still on by default.
    auto client = std::make_shared<TCSObject>(std::move(platform));
    if (csDebug.empty()) {
      client->SetEnabled(false);
    } else {
      client->SetEnabled(true);
      client->SetDestinationDetails(LogDestination(csDebug, systemDrive));
    }
    const bool on = client->Enabled();
    Exchange(std::move(client));
    Slot().live.store(on);
  } catch (...) {
    // Without a client LogDebug does nothing, which is all that can be done.
  }
}

void StopLogClient() noexcept {
  try {
    // Released outside the slot's lock: the close packet may take a while.
    Slot().live.store(false);
    std::shared_ptr<TCodeSite> old = Exchange(nullptr);
  } catch (...) {
  }
}
