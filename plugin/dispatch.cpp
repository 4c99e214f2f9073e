#include "plugin/dispatch.h"

#include <utility>

#include "diag/guarded.h"
#include "track/globals_misc.h"

namespace {

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// One destination failing in an unexpected way must cost neither the others nor the player.
template <typename F>
void Guarded(const char* what, F&& publish) {
  RunLogged("Dispatch", what, std::forward<F>(publish));
}

}  // namespace

std::string FileExtension(const std::string& fileName) {
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || fileName.find_first_of("\\:", dot) != std::string::npos) return {};
  return fileName.substr(dot);
}

bool IsIgnoredFile(const std::string& fileName, const std::string& ignoreList) {
  const std::string extension = LowerAscii(FileExtension(fileName));
  if (extension.empty()) return false;
  const int fields = CountFields(ignoreList, ',');
  for (int i = 1; i <= fields; ++i)
    if (LowerAscii("." + GetField(ignoreList, ',', i)) == extension) return true;
  return false;
}

void TrackDispatch::Reset() {
  lastFileName_.clear();
  lastFileTick_ = 0;
  paused_ = false;
}

bool TrackDispatch::Accept(const std::string& fileName) {
  const std::uint32_t now = tick_();
  // Unsigned arithmetic: the difference is right across the counter's wrap at 2^32.
  if (lastFileTick_ != 0 && fileName == lastFileName_ && now - lastFileTick_ <= kRepeatWindowMs) return false;
  lastFileName_ = fileName;
  lastFileTick_ = now;
  return true;
}

void TrackDispatch::SetNowPlaying(const TTrackMetaData& track) {
  lastMSNTrack_ = track;
  Guarded("MSN", [&] { publishers_.MSNSetNowPlaying(track); });
}

void TrackDispatch::ClearNowPlaying() {
  Guarded("MSN", [&] { publishers_.MSNClearNowPlaying(); });
}

void TrackDispatch::OnTrackNotice(LParam lParam) {
  paused_ = false;
  const TTrackMetaData track{player_.GetPlaylistFile(static_cast<int>(lParam & kPlaylistIndexMask))};
  if (!Accept(track.FileName)) return;

  if (settings_.IgnoreExts && IsIgnoredFile(track.FileName, settings_.IgnoreExtList)) {
    ClearNowPlaying();
    return;
  }
  if (settings_.MSNActive)
    SetNowPlaying(track);
  else
    ClearNowPlaying();
  if (settings_.mIRCActive) Guarded("mIRC", [&] { publishers_.mIRCSendCommand(track); });
  if (settings_.MySQLActive) Guarded("MySQL", [&] { publishers_.StartMySQLUpdate(track); });
}

void TrackDispatch::OnMainMessage(unsigned msg, WParam wParam) {
  if (msg == kWmCommand && wParam == kPauseCommand) {
    if (paused_) {
      paused_ = false;
      SetNowPlaying(lastMSNTrack_);
    } else {
      paused_ = true;
      ClearNowPlaying();
    }
  } else if (msg == kWmCommand && wParam == kStopCommand) {
    paused_ = false;
    ClearNowPlaying();
  } else if (msg == kEndOfFileMessage && settings_.MSNClear) {
    ClearNowPlaying();
  }
}
