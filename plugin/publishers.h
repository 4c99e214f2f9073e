#pragma once
// Where the dispatch hands a track: the three destinations, in the order they are called.
#include "track/track.h"

class Publishers {
 public:
  virtual ~Publishers() = default;
  virtual void SetMsnLine(const TTrackMetaData& track) = 0;
  virtual void ClearMsnLine() = 0;
  virtual void SendMircCommand(const TTrackMetaData& track) = 0;
  virtual void StartDatabaseUpdate(const TTrackMetaData& track) = 0;
};
