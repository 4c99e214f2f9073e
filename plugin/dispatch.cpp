#include "plugin/dispatch.h"

#include <chrono>

#include "diag/run_logged.h"
#include "track/globals_misc.h"
#include "track/play_id.h"

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
  currentTrack_ = {};
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
  // One destination failing in an unexpected way must cost neither the others nor the player.
  RunLogged("Dispatch", "MSN", [&] { publishers_.SetMsnLine(track); });
}

void TrackDispatch::ClearNowPlaying() {
  RunLogged("Dispatch", "MSN", [&] { publishers_.ClearMsnLine(); });
}

void TrackDispatch::ShowTrack(const TTrackMetaData& track) {
  lastShownTrack_ = track;
  RunLogged("Dispatch", "now playing", [&] { publishers_.ShowTrack(track); });
}

void TrackDispatch::HideTrack() {
  RunLogged("Dispatch", "now playing", [&] { publishers_.HideTrack(); });
}

void TrackDispatch::OnTrackNotice(LParam lParam) {
  paused_ = false;
  TTrackMetaData track{player_.GetPlaylistFile(static_cast<int>(lParam & kPlaylistIndexMask))};
  if (!Accept(track.FileName)) return;
  track.PlayId = NewPlayId();
  track.ListenedAt =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  currentTrack_ = track;

  if (settings_.IgnoreExts && IsIgnoredFile(track.FileName, settings_.IgnoreExtList)) {
    ClearNowPlaying();
    HideTrack();
    EndPlay();
    return;
  }
  if (settings_.MSNActive)
    SetNowPlaying(track);
  else
    ClearNowPlaying();
  ShowTrack(track);
  if (settings_.mIRCActive) RunLogged("Dispatch", "mIRC", [&] { publishers_.SendMircCommand(track); });
  if (settings_.MySQLActive) RunLogged("Dispatch", "MySQL", [&] { publishers_.StartDatabaseUpdate(track); });
  RunLogged("Dispatch", "scrobbling", [&] { publishers_.StartPlay(track, lastFileTick_); });
}

void TrackDispatch::EndPlay() {
  RunLogged("Dispatch", "scrobbling", [&] { publishers_.EndPlay(tick_()); });
}

void TrackDispatch::OnMainMessage(unsigned msg, WParam wParam) {
  if (msg == kWmCommand && wParam == kPauseCommand) {
    if (paused_) {
      paused_ = false;
      RunLogged("Dispatch", "scrobbling", [&] { publishers_.ResumePlay(tick_()); });
      SetNowPlaying(lastMSNTrack_);
      // A pause pressed twice while stopped resumes nothing: the file and Discord stay clear.
      if (!lastShownTrack_.FileName.empty() && player_.IsPlaying()) ShowTrack(lastShownTrack_);
    } else {
      paused_ = true;
      RunLogged("Dispatch", "scrobbling", [&] { publishers_.PausePlay(tick_()); });
      ClearNowPlaying();
      HideTrack();
    }
  } else if (msg == kWmCommand && wParam == kStopCommand) {
    paused_ = false;
    ClearNowPlaying();
    HideTrack();
    EndPlay();
  } else if (msg == kEndOfFileMessage) {
    if (settings_.MSNClear) ClearNowPlaying();
    HideTrack();
    EndPlay();
  }
}
