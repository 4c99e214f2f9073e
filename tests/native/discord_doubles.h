#pragma once
// A Discord of the test's own behind DiscordPipes: it answers the handshake with READY and each
// command with its nonce, records both, and can be not running.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "publish/discord.h"

namespace discordtest {

class FakeDiscord final : public DiscordPipes {
 public:
  std::unique_ptr<DiscordConnection> Open() override {
    const std::lock_guard<std::mutex> hold(lock_);
    ++opens_;
    changed_.notify_all();
    if (!running_) return nullptr;
    inbox_.clear();
    return std::make_unique<Connection>(*this);
  }
  void Wake() override {
    const std::lock_guard<std::mutex> hold(lock_);
    woken_ = true;
    changed_.notify_all();
  }
  std::uint32_t ProcessId() override { return 42; }

  void SetRunning(bool running) {
    const std::lock_guard<std::mutex> hold(lock_);
    running_ = running;
  }
  // The client IDs of the handshakes, and the details of each presence ("" for a clear), in order.
  std::vector<std::string> Handshakes() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return handshakes_;
  }
  std::vector<std::string> Shown() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return shown_;
  }
  // Each presence's activity as sent (null for a clear), and when by clock, if set.
  std::vector<nlohmann::json> Activities() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return activities_;
  }
  std::vector<std::chrono::steady_clock::time_point> ShownAt() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return shownAt_;
  }
  // Until the worker waits on the pipe with a limit and no wake is pending: it holds a change back.
  bool WaitUntilHeldBack() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(60), [&] { return timed_ && !woken_; });
  }
  std::function<std::chrono::steady_clock::time_point()> clock;

  // Waits until ready() holds; the limit only turns a hang into a failure.
  template <class Ready>
  bool WaitFor(Ready ready) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(60),
                             [&] { return ready(opens_, handshakes_, shown_); });
  }

 private:
  class Connection final : public DiscordConnection {
   public:
    explicit Connection(FakeDiscord& discord) : discord_(discord) {}
    bool Send(const std::string& bytes) override { return discord_.Take(bytes); }
    Read Receive(DiscordFrame& frame, std::chrono::milliseconds limit) override {
      return discord_.Next(frame, limit);
    }

   private:
    FakeDiscord& discord_;
  };

  bool Take(std::string bytes) {
    const std::lock_guard<std::mutex> hold(lock_);
    DiscordFrame frame;
    while (DecodeDiscordFrame(bytes, frame)) {
      const auto sent = nlohmann::json::parse(frame.json);
      if (frame.opcode == kHandshake) {
        handshakes_.push_back(sent["client_id"]);
        inbox_.push_back(R"({"cmd":"DISPATCH","evt":"READY"})");
      } else if (sent.value("cmd", "") == "SET_ACTIVITY") {
        const auto& args = sent["args"];
        shown_.push_back(args.contains("activity") ? args["activity"].value("details", "?") : "");
        activities_.push_back(args.value("activity", nlohmann::json()));
        if (clock) shownAt_.push_back(clock());
        inbox_.push_back(nlohmann::json{{"cmd", "SET_ACTIVITY"}, {"nonce", sent["nonce"]}}.dump());
      }
    }
    changed_.notify_all();
    return true;
  }
  DiscordConnection::Read Next(DiscordFrame& frame, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(lock_);
    const auto ready = [&] { return woken_ || !inbox_.empty(); };
    if (limit == DiscordConnection::kNoLimit) {
      changed_.wait(hold, ready);
    } else {
      // Held back: a test of the rate moves its clock on and wakes the worker.
      timed_ = !ready();
      changed_.notify_all();
      changed_.wait_for(hold, limit, ready);
      timed_ = false;
    }
    // Woken, or the limit passed.
    if (std::exchange(woken_, false) || inbox_.empty()) return DiscordConnection::Read::Woken;
    frame = {kFrame, inbox_.front()};
    inbox_.pop_front();
    return DiscordConnection::Read::Frame;
  }

  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool running_ = true, woken_ = false;
  bool timed_ = false;  // the worker waits on the pipe with a limit
  int opens_ = 0;
  std::deque<std::string> inbox_;
  std::vector<std::string> handshakes_, shown_;
  std::vector<nlohmann::json> activities_;
  std::vector<std::chrono::steady_clock::time_point> shownAt_;
};

}  // namespace discordtest
