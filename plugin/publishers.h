#pragma once
// Where the dispatch hands a track: the three destinations, in the order they are called.
#include "track/track.h"

class Publishers {
 public:
  virtual ~Publishers() = default;
  virtual void MSNSetNowPlaying(const TTrackMetaData& track) = 0;
  virtual void MSNClearNowPlaying() = 0;
  virtual void mIRCSendCommand(const TTrackMetaData& track) = 0;
  virtual void StartMySQLUpdate(const TTrackMetaData& track) = 0;
};
