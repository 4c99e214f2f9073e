#pragma once
// Where the dispatch hands a track: the destinations, in the order they are called.
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
};
