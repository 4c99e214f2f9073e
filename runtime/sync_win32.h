#pragma once
// Windows' slim reader/writer lock and condition variable, with the members of std::mutex and
// std::condition_variable that the hand-offs use.
#include <windows.h>

#include <chrono>
#include <mutex>

class HandOffMutex {
 public:
  HandOffMutex() = default;
  HandOffMutex(const HandOffMutex&) = delete;
  HandOffMutex& operator=(const HandOffMutex&) = delete;
  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }
  SRWLOCK* native() { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class HandOffCondition {
 public:
  HandOffCondition() = default;
  HandOffCondition(const HandOffCondition&) = delete;
  HandOffCondition& operator=(const HandOffCondition&) = delete;
  void notify_one() { WakeConditionVariable(&condition_); }
  void notify_all() { WakeAllConditionVariable(&condition_); }

  template <class Predicate>
  void wait(std::unique_lock<HandOffMutex>& hold, Predicate ready) {
    while (!ready()) SleepConditionVariableSRW(&condition_, hold.mutex()->native(), INFINITE, 0);
  }

  // False when the time ran out with ready() still false.
  template <class Rep, class Period, class Predicate>
  bool wait_for(std::unique_lock<HandOffMutex>& hold, std::chrono::duration<Rep, Period> time,
                Predicate ready) {
    const auto until = std::chrono::steady_clock::now() + time;
    while (!ready()) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      SleepConditionVariableSRW(&condition_, hold.mutex()->native(), static_cast<DWORD>(left.count()), 0);
    }
    return true;
  }

 private:
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};
