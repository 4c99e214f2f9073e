#pragma once
// One long-lived sender per history destination: the player's window thread hands it an entry and
// returns at once; the sender's thread stores the entry in the outbox, then sends the queue oldest
// first. A transient failure keeps the entry and waits, 2 s doubling to 5 minutes, or until the next
// track; a refusal moves the entry to the failed list, so the ones behind it still go.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "outbox/outbox.h"
#include "outbox/outbox_file.h"

// What a destination does with one stored entry, on its sender's thread only.
class HistoryDestination {
 public:
  // Halt: the destination refused who we are; everything waits until the settings are saved.
  enum class Outcome { Sent, Retry, Refused, Halt };
  struct Result {
    Outcome outcome = Outcome::Sent;
    std::string error;  // for Retry, Refused and Halt: what the destination said
  };
  virtual ~HistoryDestination() = default;
  virtual Result Send(const OutboxEntry& entry) = 0;
  // How many of the oldest entries the next request may carry.
  virtual std::size_t BatchSize() { return 1; }
  // Sends up to BatchSize() of the oldest entries in one request. The results are those of the
  // first entries, in order; an entry without one stays queued and is offered again at once.
  virtual std::vector<Result> SendBatch(const std::vector<OutboxEntry>& entries) {
    return {Send(entries.front())};
  }
  // What is live now (the track playing): sent before the queue, never stored, and dropped when
  // it fails, since a newer one will follow.
  virtual void SendLive(const std::string& /*body*/) {}
  // No request goes before this time, whatever the queue and its back-off say: rate limits.
  virtual std::chrono::steady_clock::time_point NotBefore() { return {}; }
  // From the thread that stops the sender: the request in flight, if any, gives up.
  virtual void Cancel() {}
  // Nothing followed for a while, or the sender ends: let go of any connection.
  virtual void Idle() = 0;
  // The sender's thread is ending; nothing is called after this.
  virtual void End() {}
};

struct HistorySenderOptions {
  std::string queue;  // the queue's name in the outbox, also said in its log lines
  std::function<void(std::string_view)> log;
  // The outbox's file as the setting has it, turned into a path SQLite opens, its folder made.
  // Throws with the reason when it cannot be.
  std::function<std::string(const std::string&)> resolvePath = &OutboxFile;
  std::chrono::milliseconds firstRetry{2000};
  std::chrono::milliseconds lastRetry{5 * 60 * 1000};
  std::chrono::milliseconds idle{10000};
  OutboxLimits limits;
};

struct HistoryStatus {
  std::int64_t waiting = 0;  // stored, and handed over but not yet stored
  std::int64_t failed = 0;
  std::string lastError;  // of the last transient failure; empty once an entry is sent again
  bool halted = false;    // refused who we are: nothing is sent until the settings are saved
};

class HistorySender {
 public:
  HistorySender(std::shared_ptr<HistoryDestination> destination, HistorySenderOptions options);
  // Asks a thread still running to end, without waiting: Stop is where the waiting is done.
  ~HistorySender();
  HistorySender(const HistorySender&) = delete;
  HistorySender& operator=(const HistorySender&) = delete;

  // From the window thread, none of which touches the disk. Each starts the thread on first use;
  // outboxPath is the setting as typed, and a new one opens that file from the next entry on; the
  // failed list's two actions keep the file the sender has.
  void Hand(std::string body, const std::string& outboxPath);
  // Tries the queue at once, as at start-up, at a new track or after a save.
  void Nudge(const std::string& outboxPath);
  // The latest live state for the destination, replacing one not yet sent.
  void Live(std::string body, const std::string& outboxPath);
  // After a save: a halt ends and the queue is tried at once.
  void Resume(const std::string& outboxPath);
  void SendFailedAgain();
  void DiscardFailed();
  HistoryStatus Status() const;

  // Stores what was handed over, then ends the thread, waiting at most limit. A thread still
  // inside its destination then ends by itself when the destination returns, leaving the entry in
  // flight in the outbox, and the sender takes nothing more. True when it ended in time; a later
  // hand-over then starts the thread again. The destination is asked to give up its request.
  bool Stop(std::chrono::milliseconds limit);

 private:
  struct State;
  void Wake(const std::string& outboxPath, const std::function<void(State&)>& change);
  static void Run(const std::shared_ptr<State>& state) noexcept;

  std::shared_ptr<State> state_;
};
