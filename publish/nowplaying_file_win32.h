#pragma once
// The now-playing file on Windows: a temporary file beside it, flushed, then moved over it.
#include "publish/nowplaying_file.h"

class Win32NowPlayingDisk final : public NowPlayingDisk {
 public:
  std::string Replace(const std::string& path, const std::string& text) override;
};
