#pragma once
// Decides what a player message means for the destinations: de-duplication of track notices,
// the ignore list, and the pause state of the MSN line, the now-playing file and Discord.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "config/settings.h"
#include "plugin/player_messages.h"
#include "plugin/publishers.h"
#include "plugin/wa_ipc.h"

constexpr std::uint32_t kRepeatWindowMs = 3000;

// The extension of a file name: from its last "." to the end, unless a "\" or ":" follows that dot.
std::string FileExtension(const std::string& fileName);
// Whether fileName's extension is one of the comma-separated list's fields, ignoring A-Z case.
bool IsIgnoredFile(const std::string& fileName, const std::string& ignoreList);

class TrackDispatch {
 public:
  using TickSource = std::function<std::uint32_t()>;

  TrackDispatch(const PluginSettings& settings, PlayerRequests& player, Publishers& publishers,
                TickSource tick)
      : settings_(settings), player_(player), publishers_(publishers), tick_(std::move(tick)) {}

  // Forgets the last track and the pause, as at start-up.
  void Reset();
  // A track notice on the playlist window (IsTrackNotice holds).
  void OnTrackNotice(LParam lParam);
  // A watched message on the main window, after the player's own procedure has run.
  void OnMainMessage(unsigned msg, WParam wParam);

  bool Paused() const { return paused_; }
  const TTrackMetaData& LastMSNTrack() const { return lastMSNTrack_; }
  const std::string& LastFileName() const { return lastFileName_; }
  // The track of the last notice taken, ignored or not, with its play; empty after Reset.
  const TTrackMetaData& CurrentTrack() const { return currentTrack_; }
  std::uint32_t LastFileTick() const { return lastFileTick_; }

 private:
  bool Accept(const std::string& fileName);
  void SetNowPlaying(const TTrackMetaData& track);
  void ClearNowPlaying();
  void ShowTrack(const TTrackMetaData& track);
  void HideTrack();
  void EndPlay();

  const PluginSettings& settings_;
  PlayerRequests& player_;
  Publishers& publishers_;
  TickSource tick_;

  std::string lastFileName_;
  std::uint32_t lastFileTick_ = 0;
  bool paused_ = false;
  TTrackMetaData lastMSNTrack_;
  TTrackMetaData currentTrack_;
  // The track the file and Discord show again on resume.
  TTrackMetaData lastShownTrack_;
};
