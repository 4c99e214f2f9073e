#pragma once
// A live destination that drops changes beyond its rate (Discord: about 5 in 20 s) would keep
// showing a track from minutes ago; its worker asks here when the next change may go instead, and
// sends the latest one then.
#include <chrono>
#include <cstddef>
#include <deque>

class SendPacer {
 public:
  using Clock = std::chrono::steady_clock;

  SendPacer(std::size_t most, Clock::duration window) : most_(most), window_(window) {}

  // The earliest moment, now or later, at which one more send keeps at most `most` sends in any
  // window.
  Clock::time_point NextSend(Clock::time_point now) const {
    if (sent_.size() < most_) return now;
    const Clock::time_point opens = sent_.front() + window_;
    return opens > now ? opens : now;
  }
  void Sent(Clock::time_point at) {
    sent_.push_back(at);
    while (sent_.size() > most_) sent_.pop_front();
  }

 private:
  std::size_t most_;
  Clock::duration window_;
  std::deque<Clock::time_point> sent_;  // the last `most`, oldest first
};
