#include "scrobble/play_rule.h"

#include <algorithm>
#include <utility>

void PlayRule::Start(long long lengthS, std::uint32_t now) {
  playing_ = true;
  paused_ = false;
  lengthS_ = lengthS;
  startedAt_ = now;
  playedMs_ = 0;
}

void PlayRule::Pause(std::uint32_t now) {
  if (!playing_ || paused_) return;
  // Unsigned arithmetic: right across the tick counter's wrap.
  playedMs_ += static_cast<std::uint32_t>(now - startedAt_);
  paused_ = true;
}

void PlayRule::Resume(std::uint32_t now) {
  if (!playing_ || !paused_) return;
  paused_ = false;
  startedAt_ = now;
}

std::uint32_t PlayRule::PlayedMs(std::uint32_t now) const {
  const std::uint64_t played = playedMs_ + (paused_ ? 0 : static_cast<std::uint32_t>(now - startedAt_));
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(played, UINT32_MAX));
}

bool PlayRule::End(std::uint32_t now) {
  if (!std::exchange(playing_, false)) return false;
  std::uint64_t needed = kLongEnoughMs;
  if (lengthS_ > 0) {
    const std::uint64_t lengthMs = static_cast<std::uint64_t>(lengthS_) * 1000;
    if (lengthMs <= kMinimumLengthMs) return false;
    needed = std::min<std::uint64_t>(lengthMs / 2, kLongEnoughMs);
  }
  return PlayedMs(now) >= needed;
}
