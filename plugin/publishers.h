#pragma once
// Where the dispatch hands a track: the destinations, in the order they are called.
#include <cstdint>

#include "track/track.h"

class Publishers {
 public:
  virtual ~Publishers() = default;
  virtual void SetMsnLine(const TTrackMetaData& track) = 0;
  virtual void ClearMsnLine() = 0;
  virtual void SendMircCommand(const TTrackMetaData& track) = 0;
  virtual void StartDatabaseUpdate(const TTrackMetaData& track) = 0;
  // The now-playing file and Discord: a track shown (published, or resumed), and hidden again.
  // Each hands over to its own worker and returns at once.
  virtual void ShowTrack(const TTrackMetaData& track) = 0;
  virtual void HideTrack() = 0;
  // The play the scrobbling services count: a track starts, pauses, resumes and ends (stop, end of
  // file, an ignored file, quit). now: the player's tick count.
  virtual void StartPlay(const TTrackMetaData& track, std::uint32_t now) = 0;
  virtual void PausePlay(std::uint32_t now) = 0;
  virtual void ResumePlay(std::uint32_t now) = 0;
  virtual void EndPlay(std::uint32_t now) = 0;
};
