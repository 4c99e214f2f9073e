#pragma once
// A log platform that records every packet and answers from fields the test sets. Thread-safe,
// so that many threads may log through it at once.
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "diag/CSIntf.h"

// One packet as the dispatcher would read it.
struct SentPacket {
  HostWindow window = 0;
  std::uintptr_t dwData = 0;
  std::vector<std::uint8_t> block;

  std::uint32_t Int(std::size_t offset) const {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | block.at(offset + i);
    return v;
  }
  std::int32_t Type() const { return static_cast<std::int32_t>(Int(cs_packet::kType)); }
  std::string Slot(std::size_t offset, std::size_t size) const {
    const char* p = reinterpret_cast<const char*>(block.data() + offset);
    return std::string(p, strnlen(p, size));
  }
  std::string Text() const {
    return std::string(reinterpret_cast<const char*>(block.data() + cs_packet::kText),
                       Int(cs_packet::kTextLength));
  }
  std::string ConnectionId() const { return Slot(cs_packet::kConnectionId, cs_packet::kConnectionIdSize); }
  std::string ComputerName() const { return Slot(cs_packet::kComputerName, cs_packet::kComputerNameSize); }
  std::string ApplicationName() const {
    return Slot(cs_packet::kApplicationName, cs_packet::kApplicationNameSize);
  }
};

class RecordingLogPlatform : public LogPlatform {
 public:
  // What the system answers; set before the client runs, or under Lock() while it runs.
  HostWindow running = 0x1000;                 // the dispatcher window FindWindow finds, 0 for none
  std::optional<HostWindow> started = 0x2000;  // what starting gives; nothing = cannot start
  bool startMakesItRun = true;                 // a started dispatcher is found by later searches
  LResult result = 1;                          // every send's result
  std::optional<std::string> computer = std::string("MUSICBOX");
  std::string exe = "C:\\Program Files\\Winamp\\winamp.exe";
  LocalDateTime now{2024, 3, 1, 13, 45, 30, 250};
  std::int32_t bias = -60;
  bool guidFails = false;

  // What the client did.
  int searches = 0;
  std::vector<std::string> startCommands;
  std::string dispatcherPath;

  std::unique_lock<std::mutex> Lock() { return std::unique_lock(mutex_); }
  std::vector<SentPacket> Sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  std::vector<std::int32_t> Types() {
    std::vector<std::int32_t> types;
    for (const SentPacket& p : Sent()) types.push_back(p.Type());
    return types;
  }

  LocalDateTime Now() override {
    std::lock_guard lock(mutex_);
    return now;
  }
  std::int32_t TimeZoneBias() override {
    std::lock_guard lock(mutex_);
    return bias;
  }
  std::optional<Guid> NewGuid() override {
    std::lock_guard lock(mutex_);
    if (guidFails) return std::nullopt;
    Guid g;
    g.data1 = 0x1234ABCD + guids_++;
    g.data2 = 0x00EF;
    g.data3 = 0x4A0B;
    for (int i = 0; i < 8; ++i) g.data4[i] = static_cast<std::uint8_t>(0xA0 + i);
    return g;
  }
  std::optional<std::string> ComputerName() override {
    std::lock_guard lock(mutex_);
    return computer;
  }
  std::string ExecutablePath() override {
    std::lock_guard lock(mutex_);
    return exe;
  }
  std::uint32_t ProcessId() override { return 4242; }
  std::uint32_t ThreadId() override { return 77; }
  HostWindow FindTopLevelWindow(const std::string& className, const std::string& caption) override {
    std::lock_guard lock(mutex_);
    ++searches;
    return className == "TFrmDispatcher" && caption == "CodeSite Dispatcher" ? running : 0;
  }
  LResult SendCopyData(HostWindow window, std::uintptr_t dwData,
                       const std::vector<std::uint8_t>& block) override {
    std::lock_guard lock(mutex_);
    sent_.push_back({window, dwData, block});
    return result;
  }
  std::string DispatcherPath() override {
    std::lock_guard lock(mutex_);
    return dispatcherPath;
  }
  std::optional<HostWindow> StartAndFindWindow(const std::string& commandLine,
                                               const std::string& caption) override {
    std::lock_guard lock(mutex_);
    startCommands.push_back(commandLine);
    if (caption != "CodeSite Dispatcher") return 0;
    if (started && startMakesItRun) running = *started;
    return started;
  }

 private:
  std::mutex mutex_;
  std::vector<SentPacket> sent_;
  std::uint32_t guids_ = 0;
};
