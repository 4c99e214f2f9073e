#pragma once
// A log platform that records every packet and answers from fields the test sets. Thread-safe, so
// that many threads may log through it at once; change its fields under Lock() while a client runs.
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

  std::uint32_t Int(std::size_t at) const {
    return block.at(at) | block.at(at + 1) << 8 | block.at(at + 2) << 16 |
           std::uint32_t{block.at(at + 3)} << 24;
  }
  std::int32_t Type() const { return static_cast<std::int32_t>(Int(cs_packet::kType)); }
  std::string Slot(std::size_t at, std::size_t size) const {
    const char* p = reinterpret_cast<const char*>(block.data() + at);
    return std::string(p, strnlen(p, size));
  }
  std::string Text() const { return Slot(cs_packet::kText, Int(cs_packet::kTextLength)); }
  std::string Id() const { return Slot(cs_packet::kConnectionId, cs_packet::kConnectionIdSize); }
  std::string Computer() const { return Slot(cs_packet::kComputerName, cs_packet::kComputerNameSize); }
};

class RecordingLogPlatform : public LogPlatform {
 public:
  HostWindow running = 0x1000;                 // the dispatcher window a search finds, 0 for none
  std::optional<HostWindow> started = 0x2000;  // what starting finds; nothing = cannot start
  LResult result = 1;                          // every send's result
  bool guidFails = false;
  std::string dispatcherPath;

  int searches = 0;
  std::vector<std::string> startCommands;

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

  LocalDateTime Now() override { return {2024, 3, 1, 13, 45, 30, 250}; }
  std::int32_t TimeZoneBias() override { return -60; }
  std::optional<Guid> NewGuid() override {
    std::lock_guard lock(mutex_);
    if (guidFails) return std::nullopt;
    Guid g;
    g.data1 = 0x1234ABCD + guids_++;
    return g;
  }
  std::optional<std::string> ComputerName() override { return "MUSICBOX"; }
  std::string ExecutablePath() override { return "C:\\Program Files\\Winamp\\winamp.exe"; }
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
    if (started) running = *started;
    return started;
  }

 private:
  std::mutex mutex_;
  std::vector<SentPacket> sent_;
  std::uint32_t guids_ = 0;
};
