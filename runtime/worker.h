#pragma once
// A long-lived worker thread whose end can be waited for with a limit. Its thread holds the
// plug-in's module while it runs (RunDetached), so a worker stuck in a system call at quit is left
// to end by itself rather than hang the player; its owner must then outlive it, as the module's
// state does while the module stays mapped.
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

// What is left at this moment of a wait that ends at until, never less than nothing: workers asked
// to end one after another share one limit.
inline std::chrono::milliseconds LeftUntil(std::chrono::steady_clock::time_point until) {
  return std::max(
      std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()),
      std::chrono::milliseconds(0));
}

class BoundedWorker {
 public:
  BoundedWorker();
  // Runs body on a new thread unless one still runs; then the running one is expected to pick up
  // whatever the owner handed it. Throws std::system_error when no thread can be made.
  void Start(std::function<void()> body);
  // True once no thread runs, waiting at most limit.
  bool WaitEnded(std::chrono::milliseconds limit);

 private:
  struct State;
  std::shared_ptr<State> state_;
};
