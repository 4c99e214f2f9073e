#pragma once
// When a track counts as listened: played, pauses not counted, for half its length or 4 minutes,
// whichever comes first, and only when it is longer than 30 s. A track of unknown length counts
// after 4 minutes. Each play counts at most once. Times are the player's tick count in ms.
#include <cstdint>

class PlayRule {
 public:
  // A new track starts; lengthS from request 105 (wParam 1), 0 or less when unknown.
  void Start(long long lengthS, std::uint32_t now);
  void Pause(std::uint32_t now);
  void Resume(std::uint32_t now);
  // The play ends (stop, end of file, the next track, quit): true once when it counted. Ends the
  // play either way, so a second end, or a pause or resume after it, counts nothing.
  bool End(std::uint32_t now);

  static constexpr std::uint32_t kMinimumLengthMs = 30000;
  static constexpr std::uint32_t kLongEnoughMs = 240000;

 private:
  std::uint32_t PlayedMs(std::uint32_t now) const;

  bool playing_ = false;
  bool paused_ = false;
  long long lengthS_ = 0;
  std::uint32_t startedAt_ = 0;  // of the stretch now playing
  std::uint64_t playedMs_ = 0;   // of the stretches before it
};
