#include "outbox/history_sender.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "runtime/sync.h"
#include "runtime/thread.h"

using Clock = std::chrono::steady_clock;

struct HistorySender::State {
  State(std::shared_ptr<HistoryDestination> d, HistorySenderOptions o)
      : destination(std::move(d)), options(std::move(o)) {}

  const std::shared_ptr<HistoryDestination> destination;
  const HistorySenderOptions options;

  mutable HandOffMutex lock;
  HandOffCondition changed;
  HandOffCondition ended;
  // Shared with the window thread, under lock.
  std::vector<std::string> handed;
  std::string path;
  bool started = false;
  bool nudged = false;
  bool resumed = false;
  std::optional<std::string> live;
  bool retryFailed = false;
  bool discardFailed = false;
  bool stopping = false;
  bool done = false;
  HistoryStatus status;

  void Log(const std::string& text) const {
    if (options.log) options.log(text);
  }
};

namespace {

std::string What(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unexpected error";
  }
}

}  // namespace

HistorySender::HistorySender(std::shared_ptr<HistoryDestination> destination, HistorySenderOptions options)
    : state_(std::make_shared<State>(std::move(destination), std::move(options))) {}

HistorySender::~HistorySender() {
  {
    const std::lock_guard<HandOffMutex> hold(state_->lock);
    state_->stopping = true;
  }
  state_->changed.notify_one();
}

void HistorySender::Wake(const std::string& outboxPath, const std::function<void(State&)>& change) {
  State& state = *state_;
  bool start = false;
  {
    const std::lock_guard<HandOffMutex> hold(state.lock);
    if (state.stopping) return;
    change(state);
    if (!outboxPath.empty()) state.path = outboxPath;
    start = !std::exchange(state.started, true);
  }
  if (start) {
    try {
      RunDetached([state = state_] { Run(state); });
    } catch (...) {
      // Whatever was handed over stays in memory until the next hand-over starts a thread.
      const std::lock_guard<HandOffMutex> hold(state.lock);
      state.started = false;
      state.Log("Outbox: " + state.options.queue + ": the sender's thread could not be started (" +
                What(std::current_exception()) + "); trying again at the next track");
      return;
    }
  }
  state.changed.notify_one();
}

void HistorySender::Hand(std::string body, const std::string& outboxPath) {
  Wake(outboxPath, [&](State& state) {
    state.handed.push_back(std::move(body));
    ++state.status.waiting;
  });
}

void HistorySender::Nudge(const std::string& outboxPath) {
  Wake(outboxPath, [](State& state) { state.nudged = true; });
}

void HistorySender::Live(std::string body, const std::string& outboxPath) {
  Wake(outboxPath, [&](State& state) {
    state.live = std::move(body);
    state.nudged = true;
  });
}

void HistorySender::Resume(const std::string& outboxPath) {
  Wake(outboxPath, [](State& state) { state.resumed = true; });
}

void HistorySender::SendFailedAgain() {
  Wake("", [](State& state) { state.retryFailed = true; });
}

void HistorySender::DiscardFailed() {
  Wake("", [](State& state) { state.discardFailed = true; });
}

HistoryStatus HistorySender::Status() const {
  const std::lock_guard<HandOffMutex> hold(state_->lock);
  return state_->status;
}

bool HistorySender::Stop(std::chrono::milliseconds limit) {
  {
    const std::lock_guard<HandOffMutex> hold(state_->lock);
    state_->stopping = true;
  }
  state_->changed.notify_one();
  // Outside the lock: the destination's own lock may be held by the thread it wakes.
  state_->destination->Cancel();
  std::unique_lock<HandOffMutex> hold(state_->lock);
  if (state_->started && !state_->ended.wait_for(hold, limit, [&] { return state_->done; })) return false;
  // Ended: a later hand-over (the player's Init again) starts a new thread.
  state_->stopping = state_->started = state_->done = false;
  return true;
}

void HistorySender::Run(const std::shared_ptr<State>& shared) noexcept {
  State& state = *shared;
  const HistorySenderOptions& options = state.options;
  HistoryDestination& destination = *state.destination;
  std::unique_ptr<Outbox> outbox;
  std::string openedPath;
  bool inMemory = false;
  std::chrono::milliseconds backoff{0};
  Clock::time_point retryAt{}, idleAt{};
  bool connected = false;
  bool halted = false;

  // Opens the outbox the setting names; one that cannot be made keeps the entries in memory for
  // the session, so that nothing stops the sending.
  const auto open = [&](const std::string& setting) {
    if (outbox && setting == openedPath) return;
    std::vector<OutboxEntry> carried;
    if (outbox && inMemory) carried = outbox->Oldest(std::size_t(-1));
    outbox.reset();
    openedPath = setting;
    inMemory = false;
    try {
      outbox =
          std::make_unique<Outbox>(options.resolvePath(setting), options.queue, options.log, options.limits);
    } catch (...) {
      state.Log("Outbox: " + options.queue + ": the outbox " + setting + " cannot be opened (" +
                What(std::current_exception()) + "); entries are kept in memory until the player quits");
      outbox = std::make_unique<Outbox>(":memory:", options.queue, options.log, options.limits);
      inMemory = true;
    }
    std::vector<std::string> bodies;
    for (OutboxEntry& entry : carried) bodies.push_back(std::move(entry.body));
    outbox->Store(bodies, std::time(nullptr));
  };

  std::unique_lock<HandOffMutex> hold(state.lock);
  for (;;) {
    const bool waiting = outbox && outbox->Counts().waiting > 0 && !halted;
    const auto due = [&] {
      return !state.handed.empty() || state.stopping || state.nudged || state.retryFailed ||
             state.discardFailed || state.resumed;
    };
    if (!due()) {
      // Sleeps until the back-off, the rate limit or the idle time runs out, whichever is first.
      Clock::time_point until = Clock::time_point::max();
      const Clock::time_point notBefore = destination.NotBefore();
      if (waiting) until = std::max(backoff.count() > 0 ? retryAt : Clock::time_point::min(), notBefore);
      if (state.live && !halted) until = std::min(until, notBefore);
      if (connected) until = std::min(until, idleAt);
      if (until == Clock::time_point::max())
        state.changed.wait(hold, due);
      else
        state.changed.wait_for(hold, std::max(until - Clock::now(), Clock::duration::zero()), due);
    }
    std::vector<std::string> handed = std::exchange(state.handed, {});
    const bool stopping = state.stopping, retryFailed = std::exchange(state.retryFailed, false),
               discardFailed = std::exchange(state.discardFailed, false);
    std::optional<std::string> live = std::exchange(state.live, std::nullopt);
    // A new track or a save tries at once, whatever the back-off said; only a save ends a halt.
    if (std::exchange(state.nudged, false) || !handed.empty()) backoff = {};
    if (std::exchange(state.resumed, false)) {
      halted = false;
      backoff = {};
    }
    const std::string path = state.path;
    hold.unlock();

    bool sendNow = false, sentLive = false;
    try {
      open(path);
      if (outbox->Store(handed, std::time(nullptr)) < handed.size())
        state.Log("Outbox: " + options.queue + ": " + std::to_string(handed.size()) +
                  " new entries came while the queue was full; those that did not fit are lost");
      if (retryFailed && outbox->RetryFailed() > 0) backoff = {};
      if (discardFailed) outbox->DiscardFailed();
      const bool paced = Clock::now() < destination.NotBefore();
      if (live && !stopping && !halted) {
        if (paced) {
          // Kept for when the rate limit allows, unless a newer one comes first.
          hold.lock();
          if (!state.live) state.live = std::move(live);
          hold.unlock();
        } else {
          sentLive = true;
          destination.SendLive(*live);
          connected = true;
          idleAt = Clock::now() + options.idle;
        }
      }
      sendNow = !sentLive && !paced && !stopping && !halted && outbox->Counts().waiting > 0 &&
                (backoff.count() == 0 || Clock::now() >= retryAt);
      if (sendNow) {
        // One request a turn, so that what is handed over meanwhile is stored without waiting for
        // the whole backlog to go.
        const std::vector<OutboxEntry> oldest =
            outbox->Oldest(std::max<std::size_t>(1, destination.BatchSize()));
        const std::vector<HistoryDestination::Result> results = destination.SendBatch(oldest);
        connected = true;
        idleAt = Clock::now() + options.idle;
        for (std::size_t i = 0; i < results.size() && i < oldest.size(); ++i) {
          const HistoryDestination::Result& result = results[i];
          const bool more = result.outcome == HistoryDestination::Outcome::Sent ||
                            result.outcome == HistoryDestination::Outcome::Refused;
          switch (result.outcome) {
            case HistoryDestination::Outcome::Sent:
              outbox->Remove(oldest[i].id);
              backoff = {};
              hold.lock();
              state.status.lastError.clear();
              hold.unlock();
              break;
            case HistoryDestination::Outcome::Refused:
              outbox->MoveToFailed(oldest[i].id, result.error);
              break;
            case HistoryDestination::Outcome::Halt: {
              halted = true;
              const auto waitingNow = outbox->Counts().waiting;
              state.Log("Outbox: " + options.queue + ": " + std::to_string(waitingNow) +
                        (waitingNow == 1 ? " entry waits" : " entries wait") +
                        "; nothing is sent until the settings are saved (" + result.error + ")");
              hold.lock();
              state.status.lastError = result.error;
              hold.unlock();
              break;
            }
            case HistoryDestination::Outcome::Retry: {
              backoff = backoff.count() == 0 ? options.firstRetry : std::min(backoff * 2, options.lastRetry);
              retryAt = Clock::now() + backoff;
              const auto waitingNow = outbox->Counts().waiting;
              state.Log("Outbox: " + options.queue + ": " + std::to_string(waitingNow) +
                        (waitingNow == 1 ? " entry waits" : " entries wait") + "; trying again in " +
                        std::to_string((backoff.count() + 999) / 1000) + " s or at the next track (" +
                        result.error + ")");
              hold.lock();
              state.status.lastError = result.error;
              hold.unlock();
              break;
            }
          }
          if (!more) break;
        }
      }
    } catch (const OutboxError& error) {
      state.Log("Outbox: " + options.queue + ": " + error.what());
      // A damaged file is set aside when it is opened again; anything else is tried again later.
      if (error.Corrupt()) outbox.reset();
      backoff = backoff.count() == 0 ? options.firstRetry : std::min(backoff * 2, options.lastRetry);
      retryAt = Clock::now() + backoff;
    } catch (...) {
      state.Log("Outbox: " + options.queue + ": " + What(std::current_exception()));
      backoff = options.lastRetry;
      retryAt = Clock::now() + backoff;
    }
    if (connected && (stopping || Clock::now() >= idleAt)) {
      connected = false;
      destination.Idle();
    }

    hold.lock();
    if (outbox) {
      const OutboxCounts counts = outbox->Counts();
      state.status.waiting = counts.waiting + static_cast<std::int64_t>(state.handed.size());
      state.status.failed = counts.failed;
    }
    state.status.halted = halted;
    if (stopping && state.handed.empty()) break;
    // More to send: no wait before the next turn.
    if ((sendNow || sentLive) && !halted && outbox && outbox->Counts().waiting > 0 && backoff.count() == 0)
      state.nudged = true;
  }
  hold.unlock();
  try {
    destination.End();
  } catch (...) {
  }
  outbox.reset();
  hold.lock();
  state.done = true;
  state.ended.notify_all();
}
