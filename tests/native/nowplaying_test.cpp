// The now-playing file's writer at quit: a disk that does not answer does not hold up the stop.
#include "publish/nowplaying_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// A disk whose writes wait until released, as an unreachable network share's do.
struct HangingDisk final : NowPlayingDisk {
  std::string Replace(const std::string&, const std::string&) override {
    std::unique_lock<std::mutex> hold(lock);
    entered = true;
    changed.notify_all();
    changed.wait(hold, [&] { return released; });
    return {};
  }
  std::mutex lock;
  std::condition_variable changed;
  bool entered = false, released = false;
};

TEST(NowPlayingFile, AStopGivesUpOnAWriterStuckOnItsDiskWhichThenEndsByItself) {
  HangingDisk disk;
  NowPlayingFile file(disk);
  file.Write("x", "track");
  {
    std::unique_lock<std::mutex> hold(disk.lock);
    ASSERT_TRUE(disk.changed.wait_for(hold, std::chrono::seconds(60), [&] { return disk.entered; }));
  }
  EXPECT_FALSE(file.Stop(std::chrono::milliseconds(50)));
  {
    const std::lock_guard<std::mutex> hold(disk.lock);
    disk.released = true;
  }
  disk.changed.notify_all();
  EXPECT_TRUE(file.Stop(std::chrono::seconds(60)));
}

}  // namespace
