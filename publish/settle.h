#pragma once
// The now-playing workers let a burst of track changes (a user skipping through the playlist)
// settle before they act, so that only its last track goes out and, meanwhile, their disk and pipe
// calls do not compete with the player's window thread.
#include <chrono>
#include <mutex>

#include "runtime/sync.h"

constexpr std::chrono::milliseconds kSettleQuiet{100};
constexpr std::chrono::milliseconds kSettleAtMost{1000};

// With hold held: returns once a kSettleQuiet went by without a change, kSettleAtMost after the
// call, or as soon as stopping() holds. takeChange() tells whether a change came, and marks it
// seen. Only a stop needs to wake a settling worker: the changes are looked at between waits.
template <class TakeChange, class Stopping>
void SettleChanges(HandOffCondition& changed, std::unique_lock<HandOffMutex>& hold, TakeChange takeChange,
                   Stopping stopping) {
  const auto until = std::chrono::steady_clock::now() + kSettleAtMost;
  takeChange();
  while (!stopping() && std::chrono::steady_clock::now() < until) {
    changed.wait_for(hold, kSettleQuiet, stopping);
    if (!takeChange()) return;
  }
}
