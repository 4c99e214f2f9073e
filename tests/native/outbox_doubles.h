#pragma once
// A folder of a test's own for outbox files, and a history destination whose answers a test sets.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "outbox/history_sender.h"

namespace outboxtest {

class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("skorrel-outbox-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    return names;
  }

 private:
  std::filesystem::path path_;
};

// Collects log lines from any thread.
class Lines {
 public:
  std::function<void(std::string_view)> Log() {
    return [this](std::string_view line) {
      const std::lock_guard<std::mutex> hold(lock_);
      lines_.emplace_back(line);
    };
  }
  std::vector<std::string> Get() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return lines_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
};

// Answers each entry with the outcome queued for its body, Sent when none is; a body named in
// blockOn is held until Release. Records what it was sent, in order.
class ScriptedDestination final : public HistoryDestination {
 public:
  Result Send(const OutboxEntry& entry) override {
    std::unique_lock<std::mutex> hold(lock_);
    attempts_.push_back(entry.body);
    changed_.notify_all();
    changed_.wait(hold, [&] { return entry.body != blockOn || released_; });
    auto& queued = outcomes_[entry.body];
    Result result;
    if (!queued.empty()) {
      result = queued.front();
      queued.pop_front();
    }
    if (result.outcome == Outcome::Sent) sent_.push_back(entry.body);
    changed_.notify_all();
    return result;
  }
  void Idle() override { ++idles; }
  void End() override { ended = true; }

  void Answer(const std::string& body, Outcome outcome, const std::string& error = "") {
    const std::lock_guard<std::mutex> hold(lock_);
    outcomes_[body].push_back({outcome, error});
  }
  void Release() {
    const std::lock_guard<std::mutex> hold(lock_);
    released_ = true;
    changed_.notify_all();
  }
  // Waits until count entries were sent, or attempts tried; the limit only turns a hang into a
  // failure.
  bool WaitSent(std::size_t count) {
    return WaitFor([&] { return sent_.size() >= count; });
  }
  bool WaitAttempts(std::size_t count) {
    return WaitFor([&] { return attempts_.size() >= count; });
  }
  std::vector<std::string> Sent() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return sent_;
  }
  std::vector<std::string> Attempts() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return attempts_;
  }

  std::string blockOn;  // set before the sender starts
  std::atomic<int> idles{0};
  std::atomic<bool> ended{false};

 private:
  template <class Ready>
  bool WaitFor(Ready ready) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(60), ready);
  }

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::map<std::string, std::deque<Result>> outcomes_;
  std::vector<std::string> attempts_, sent_;
  bool released_ = false;
};

}  // namespace outboxtest
