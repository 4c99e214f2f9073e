// LogDebug from many threads while the plug-in starts and stops its log client.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "diag/globals.h"
#include "log_platform_double.h"

namespace {

struct Call {
  std::uint64_t begin, end;
  std::string text;
};

struct Cycle {
  std::shared_ptr<RecordingLogPlatform> os;
  std::uint64_t started, stopping;
};

TEST(LogDebugThreads, EightThreadsLoseNoLineWhileTheClientComesAndGoes) {
  constexpr int kThreads = 8;
  constexpr int kCycles = 12;
  std::atomic<std::uint64_t> clock{0};
  std::atomic<bool> stop{false};
  std::atomic<int> completed{0};
  std::vector<std::vector<Call>> calls(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; !stop.load(); ++k) {
        Call call{clock++, 0, "t" + std::to_string(t) + "#" + std::to_string(k)};
        LogDebug(call.text);
        call.end = clock++;
        calls[t].push_back(std::move(call));
        ++completed;
      }
    });
  }

  std::vector<Cycle> cycles;
  for (int c = 0; c < kCycles; ++c) {
    auto os = std::make_shared<RecordingLogPlatform>();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    StartLogClient(os, "viewer", "C:");
    const std::uint64_t started = clock++;
    // Each thread has at most one call in flight at the start, so this many more completions mean
    // some calls ran wholly while the client was there.
    const int enough = completed.load() + 3 * kThreads;
    while (completed.load() < enough) std::this_thread::yield();
    const std::uint64_t stopping = clock++;
    StopLogClient();
    cycles.push_back({os, started, stopping});
  }
  stop = true;
  for (std::thread& t : threads) t.join();

  std::set<std::string> everyText;
  for (const auto& perThread : calls)
    for (const Call& call : perThread) everyText.insert("[gen_skorrel] " + call.text);

  for (const Cycle& cycle : cycles) {
    // Open first, close last, and every line in between delivered once.
    const auto sent = cycle.os->Sent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent.front().Type(), 41);
    EXPECT_EQ(sent.back().Type(), 42);
    std::set<std::string> texts;
    for (std::size_t i = 1; i + 1 < sent.size(); ++i) {
      EXPECT_EQ(sent[i].Type(), 0);
      EXPECT_TRUE(texts.insert(sent[i].Text()).second) << sent[i].Text();
      EXPECT_TRUE(everyText.count(sent[i].Text())) << sent[i].Text();
    }
    std::size_t whileRunning = 0;
    for (const auto& perThread : calls)
      for (const Call& call : perThread)
        if (call.begin > cycle.started && call.end < cycle.stopping) {
          ++whileRunning;
          EXPECT_TRUE(texts.count("[gen_skorrel] " + call.text)) << call.text << " was lost";
        }
    EXPECT_GT(whileRunning, 0u);
  }
}

}  // namespace
