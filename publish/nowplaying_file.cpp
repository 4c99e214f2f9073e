#include "publish/nowplaying_file.h"

#include <chrono>
#include <utility>

#include "diag/globals.h"
#include "publish/settle.h"
#include "track/subtags.h"

std::string NowPlayingText(TagSource& tags, const TTrackMetaData& track, const std::string& format) {
  return SubTags(tags, track, format, false);
}

namespace {
// A failed write is tried again after this, unless a newer text comes first.
constexpr std::chrono::seconds kRetryAfter{2};
}  // namespace

void NowPlayingFile::Write(const std::string& path, const std::string& text) {
  bool wake = false;
  {
    const std::lock_guard<HandOffMutex> hold(lock_);
    // Emptying a file the user moved away from must not be lost to the first text of the new one.
    if (pending_ && pending_->path != path && pending_->text.empty()) emptyFirst_ = pending_->path;
    pending_ = Job{path, text};
    fresh_ = true;
    stopping_ = false;
    // A writer that is settling or writing finds the text without a wake.
    wake = idle_;
  }
  writer_.Start([this] { Run(); });
  if (wake) changed_.notify_one();
}

bool NowPlayingFile::Stop(std::chrono::milliseconds limit) {
  {
    const std::lock_guard<HandOffMutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_one();
  return writer_.WaitEnded(limit);
}

void NowPlayingFile::Run() noexcept {
  std::unique_lock<HandOffMutex> hold(lock_);
  bool retrying = false;
  for (;;) {
    idle_ = true;
    if (retrying)
      changed_.wait_for(hold, kRetryAfter, [&] { return stopping_ || fresh_; });
    else
      changed_.wait(hold, [&] { return stopping_ || pending_; });
    idle_ = false;
    if (!pending_) {
      if (stopping_) return;
      continue;
    }
    SettleChanges(
        changed_, hold, [&] { return std::exchange(fresh_, false); }, [&] { return stopping_; });
    const Job job = *std::exchange(pending_, std::nullopt);
    const std::optional<std::string> emptyFirst = std::exchange(emptyFirst_, std::nullopt);
    fresh_ = false;
    const bool last = stopping_;
    hold.unlock();
    std::string error;
    try {
      // Once only: the old file is no one's any more.
      if (emptyFirst) disk_.Replace(*emptyFirst, "");
      error = disk_.Replace(job.path, job.text);
    } catch (const std::exception& e) {
      error = e.what();
    } catch (...) {
      error = "unexpected error";
    }
    if (error != lastError_) {
      if (error.empty())
        LogDebug("NowPlaying: the file " + job.path + " is written again");
      else
        LogDebug("NowPlaying: the file " + job.path + " could not be written (" + error +
                 "); the latest track is written once it can be");
      lastError_ = error;
    }
    hold.lock();
    retrying = !error.empty();
    // The latest text always arrives in the end: a failed one waits for the retry unless a newer
    // one came meanwhile.
    if (retrying && !pending_) pending_ = job;
    if (last) return;
  }
}
