#pragma once
// The now-playing file that stream overlays read: one long-lived writer thread that writes only
// the latest text, so the player's window thread never waits on the disk.
#include <chrono>
#include <optional>
#include <string>

#include "runtime/sync.h"
#include "runtime/worker.h"
#include "track/track.h"

// The file's text for a track: the format expanded, values as they are.
std::string NowPlayingText(TagSource& tags, const TTrackMetaData& track, const std::string& format);

// What the writer needs of the file system.
class NowPlayingDisk {
 public:
  virtual ~NowPlayingDisk() = default;
  // Replaces the file at path (as typed, environment variables not yet expanded) with text, so
  // that a reader sees the old text or the new one, never a part or nothing. Empty, or why not.
  virtual std::string Replace(const std::string& path, const std::string& text) = 0;
};

class NowPlayingFile {
 public:
  explicit NowPlayingFile(NowPlayingDisk& disk) : disk_(disk) {}
  NowPlayingFile(const NowPlayingFile&) = delete;
  NowPlayingFile& operator=(const NowPlayingFile&) = delete;

  // Hands text over for path and returns at once, starting the writer on first use. A text not yet
  // written is replaced by the newer one.
  void Write(const std::string& path, const std::string& text);
  // Makes one last attempt at what is pending, then ends the writer, waiting at most limit: a writer
  // stuck on an unreachable disk ends by itself later. False then.
  bool Stop(std::chrono::milliseconds limit);

 private:
  struct Job {
    std::string path, text;
  };
  void Run() noexcept;

  NowPlayingDisk& disk_;
  HandOffMutex lock_;
  HandOffCondition changed_;
  std::optional<Job> pending_;
  // A file to empty before the pending job: the one the user moved away from.
  std::optional<std::string> emptyFirst_;
  // A text came since the writer last took one.
  bool fresh_ = false;
  bool stopping_ = false;
  // The writer waits for a text, so a new one must wake it.
  bool idle_ = false;
  BoundedWorker writer_;
  // The writer's own: the last error logged, so that a lasting one is logged once.
  std::string lastError_;
};
