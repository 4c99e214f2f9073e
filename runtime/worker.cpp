#include "runtime/worker.h"

#include <mutex>

#include "runtime/sync.h"
#include "runtime/thread.h"

struct BoundedWorker::State {
  HandOffMutex lock;
  HandOffCondition ended;
  bool running = false;
};

BoundedWorker::BoundedWorker() : state_(std::make_shared<State>()) {}

void BoundedWorker::Start(std::function<void()> body) {
  {
    const std::lock_guard<HandOffMutex> hold(state_->lock);
    if (state_->running) return;
    state_->running = true;
  }
  try {
    RunDetached([state = state_, body = std::move(body)] {
      try {
        body();
      } catch (...) {
      }
      const std::lock_guard<HandOffMutex> hold(state->lock);
      state->running = false;
      state->ended.notify_all();
    });
  } catch (...) {
    const std::lock_guard<HandOffMutex> hold(state_->lock);
    state_->running = false;
    throw;
  }
}

bool BoundedWorker::WaitEnded(std::chrono::milliseconds limit) {
  std::unique_lock<HandOffMutex> hold(state_->lock);
  return state_->ended.wait_for(hold, limit, [&] { return !state_->running; });
}
