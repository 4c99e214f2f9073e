#pragma once
// Doubles for the database publisher's tests: the lines a worker logs, the boxes it shows, the tags
// a track has, and the file the binding loads.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "database/mysql.h"
#include "database/thread_mysql_updater.h"
#include "gtest/gtest.h"
#include "native/outbox_doubles.h"
#include "track/track.h"

namespace dbtest {

// Records every log line and "Query failed" box, from any thread, and sees workers end: each
// worker's seams hold a token whose last copy goes with the worker.
class WorkerRecorder {
 public:
  struct Box {
    std::string report;
    std::thread::id thread;
  };

  MySQLUpdateSeams Seams() {
    // Shared with the workers, so a worker that outlives a failed test still writes somewhere.
    std::shared_ptr<State> state = state_;
    std::size_t set;
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      set = state->setLines.size();
      state->setLines.emplace_back();
    }
    auto token = std::shared_ptr<void>(nullptr, [state](void*) {
      std::lock_guard<std::mutex> lock(state->mutex);
      ++state->gone;
      state->changed.notify_all();
    });
    MySQLUpdateSeams seams;
    seams.log = [state, token, set](std::string_view line) {
      std::lock_guard<std::mutex> lock(state->mutex);
      state->lines.emplace_back(line);
      state->setLines[set].emplace_back(line);
      state->changed.notify_all();
    };
    seams.queryFailedBox = [state, token](const std::string& report) {
      std::lock_guard<std::mutex> lock(state->mutex);
      state->boxes.push_back({report, std::this_thread::get_id()});
      state->changed.notify_all();
    };
    return seams;
  }

  // Waits until count workers made from Seams() are destroyed. The limit only turns a hang into a
  // failure; nothing relies on timing.
  bool WaitForWorkersGone(int count) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::seconds(120), [&] { return state_->gone >= count; });
  }

  // Waits until a line starting with prefix was logged count times, or count boxes shown; limits
  // as above.
  bool WaitForLine(std::string_view prefix, std::size_t count) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::seconds(120), [&] {
      return static_cast<std::size_t>(
                 std::count_if(state_->lines.begin(), state_->lines.end(), [&](const std::string& line) {
                   return std::string_view(line).substr(0, prefix.size()) == prefix;
                 })) >= count;
    });
  }
  bool WaitForBoxes(std::size_t count) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::seconds(120),
                                    [&] { return state_->boxes.size() >= count; });
  }

  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->lines;
  }
  // The lines logged through each Seams() set, that is by each trigger call and its worker, in order.
  std::vector<std::vector<std::string>> LinesBySet() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->setLines;
  }
  std::vector<Box> Boxes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->boxes;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;
    std::vector<std::vector<std::string>> setLines;
    std::vector<Box> boxes;
    int gone = 0;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

class Tags : public TagSource {
 public:
  std::map<std::pair<std::string, std::string>, std::string> values;  // (file, name) -> value
  std::string Tag(const std::string& fileName, const std::string& name) override {
    auto it = values.find({fileName, name});
    return it == values.end() ? std::string() : it->second;
  }
};

// Puts a loader in place for one test and starts and ends it with the library unloaded.
class LoaderSwap {
 public:
  explicit LoaderSwap(MySQLLibraryLoader loader) {
    UnloadMySQLLibrary();
    previous_ = SetMySQLLibraryLoader(loader);
  }
  ~LoaderSwap() {
    UnloadMySQLLibrary();
    SetMySQLLibraryLoader(previous_);
  }
  LoaderSwap(const LoaderSwap&) = delete;
  LoaderSwap& operator=(const LoaderSwap&) = delete;

 private:
  MySQLLibraryLoader previous_;
};

inline const char* const kDefaultCommand =
    "insert into `tolby`.`winamp_played` (`fulltitle`) values ('%artist% - %title%')";

// The sender's lines for one statement, run and failed to connect.
inline const std::vector<std::string> kStatementRan = {
    "TThreadMySQLUpdater.Execute: starting", "TThreadMySQLUpdater.Execute: Connecting to database...",
    "TThreadMySQLUpdater.Execute: Performing query...", "TThreadMySQLUpdater.Execute: finished"};
inline const std::vector<std::string> kConnectFailed = {
    "TThreadMySQLUpdater.Execute: starting", "TThreadMySQLUpdater.Execute: Connecting to database...",
    "TThreadMySQLUpdater.Execute: Exception occured trying to connect",
    "TThreadMySQLUpdater.Execute: finished"};

// The lines of those logged that start with prefix, in order.
inline std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines,
                                                  std::string_view prefix) {
  std::vector<std::string> kept;
  for (const auto& line : lines)
    if (std::string_view(line).substr(0, prefix.size()) == prefix) kept.push_back(line);
  return kept;
}

// A database publisher of the test's own, its outbox in a folder of its own and its retries quick.
// Going, it waits until its sender has ended.
class TestPublisher {
 public:
  explicit TestPublisher(WorkerRecorder& recorder,
                         std::chrono::milliseconds firstRetry = std::chrono::milliseconds(20)) {
    HistorySenderOptions options;
    options.firstRetry = firstRetry;
    options.lastRetry = firstRetry * 4;
    publisher_ = std::make_unique<MySQLPublisher>(recorder.Seams(), options);
  }
  ~TestPublisher() { EXPECT_TRUE(publisher_->Stop(std::chrono::seconds(120))); }

  void Publish(const TTrackMetaData& track, const MySQLTarget& target, TagSource& tags) {
    publisher_->Publish(track, target, tags, path);
  }
  void Resume(const MySQLTarget& target) { publisher_->Resume(target, path); }
  MySQLPublisher& operator*() { return *publisher_; }
  MySQLPublisher* operator->() { return publisher_.get(); }

  outboxtest::TempFolder folder;
  const std::string path = folder.File("outbox.sqlite3");

 private:
  std::unique_ptr<MySQLPublisher> publisher_;
};

}  // namespace dbtest
