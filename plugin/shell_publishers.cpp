#include "plugin/shell_publishers.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "diag/globals.h"
#include "runtime/worker.h"
#include "track/subtags.h"

void ShellPublishers::SetMsnLine(const TTrackMetaData& track) {
  MSNSetNowPlaying(messenger_, player_, track, settings_.MSNDefaultFormat, settings_.MSNFormat);
}

void ShellPublishers::ClearMsnLine() { MSNClearNowPlaying(messenger_); }

void ShellPublishers::SendMircCommand(const TTrackMetaData& track) {
  mIRCSendCommand(mirc_, player_, track, settings_.mIRCDDEName, settings_.mIRCDDECommand);
}

MySQLTarget ShellPublishers::DatabaseTarget() const {
  return {settings_.MySQLServer, settings_.MySQLUserName, settings_.MySQLPassword, settings_.MySQLCommand,
          settings_.MySQLSSH};
}

void ShellPublishers::StartDatabaseUpdate(const TTrackMetaData& track) {
  database_.Publish(track, DatabaseTarget(), player_, settings_.OutboxPath);
}

void ShellPublishers::ResumeDatabase() {
  if (settings_.MySQLActive) database_.Resume(DatabaseTarget(), settings_.OutboxPath);
}

HistorySenderOptions ShellPublishers::LoggedSenders() {
  HistorySenderOptions options;
  options.log = &LogDebug;
  return options;
}

ScrobbleTargets ShellPublishers::ScrobbleTargetsNow() const {
  ScrobbleTargets targets;
  targets.listenBrainzActive = settings_.ListenBrainzActive;
  targets.listenBrainz = {settings_.ListenBrainzToken, settings_.ListenBrainzAPI};
  targets.lastFmActive = settings_.LastFmActive;
  targets.lastFm = {settings_.LastFmAPIKey, settings_.LastFmAPISecret, settings_.LastFmSessionKey,
                    settings_.LastFmAPI};
  targets.outboxPath = settings_.OutboxPath;
  return targets;
}

void ShellPublishers::StartPlay(const TTrackMetaData& track, std::uint32_t now) {
  const ScrobbleTargets targets = ScrobbleTargetsNow();
  Listen listen;
  if (targets.listenBrainzActive || targets.lastFmActive) {
    TagMemo tags(player_);
    listen.artist = tags.Tag(track.FileName, "artist");
    listen.track = tags.Tag(track.FileName, "title");
    listen.album = tags.Tag(track.FileName, "album");
    // The player answers at once, on this thread; -1 while it does not know.
    listen.lengthS = std::max<long long>(player_.GetOutputTime(1), 0);
    listen.listenedAt = track.ListenedAt;
    listen.playId = track.PlayId;
  }
  // Called either way: the track before ends, whichever services are on now.
  scrobbler_.Start(listen, now, targets);
}

namespace {
// The MusicBrainz release a tagger wrote, as the player names the tag.
constexpr const char* kReleaseIdTag = "MusicBrainz Album Id";
}  // namespace

DiscordActivity ShellPublishers::Activity(TagSource& tags, const TTrackMetaData& track) {
  // The player answers at once, on this thread: these are its own window's requests.
  const long long positionMs = player_.GetOutputTime(0), lengthS = player_.GetOutputTime(1);
  DiscordActivity activity;
  // An untagged file shows its file name, as the other destinations do.
  activity.title = SubTags(tags, track, "%title%", false);
  activity.artist = tags.Tag(track.FileName, "artist");
  activity.shows = DiscordShowsNamed(settings_.DiscordShows);
  if (settings_.DiscordCovers) {
    activity.album = tags.Tag(track.FileName, "album");
    if (!activity.album.empty()) activity.releaseId = tags.Tag(track.FileName, kReleaseIdTag);
  }
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  activity.startMs = now - (positionMs > 0 ? positionMs : 0);
  if (lengthS > 0) activity.endMs = activity.startMs + lengthS * 1000;
  return activity;
}

void ShellPublishers::ShowTrack(const TTrackMetaData& track) {
  // Every request first, then the hand-offs: a woken worker would compete with the window thread's
  // requests. The two destinations share the tags they both show.
  TagMemo tags(player_);
  std::optional<std::string> text;
  if (settings_.FileActive) text = NowPlayingText(tags, track, settings_.FileFormat);
  std::optional<DiscordActivity> activity;
  if (settings_.DiscordActive) activity = Activity(tags, track);
  if (text) file_.Write(settings_.FilePath, *text);
  if (activity)
    discord_.Show(settings_.DiscordApplicationID, *activity,
                  settings_.DiscordCovers ? std::optional<CoverRoots>(
                                                CoverRoots{settings_.ItunesAPI, settings_.CoverArtArchiveAPI})
                                          : std::nullopt);
}

void ShellPublishers::HideTrack() {
  if (settings_.FileActive && settings_.FileClear) file_.Write(settings_.FilePath, "");
  discord_.Clear();
}

void ShellPublishers::Withdraw(const PluginSettings& before) {
  // Turned off, the file shows no track, whatever File Clear says; moved, the old one is emptied
  // as File Clear empties it.
  if (before.FileActive && !settings_.FileActive)
    file_.Write(before.FilePath, "");
  else if (before.FileActive && before.FileClear && before.FilePath != settings_.FilePath)
    file_.Write(before.FilePath, "");
  if (before.DiscordActive && !settings_.DiscordActive) discord_.Clear();
}

bool ShellPublishers::EndWorkers(std::chrono::milliseconds limit) {
  // Both are asked first, so that they end side by side within the one limit.
  const auto until = std::chrono::steady_clock::now() + limit;
  const bool file = file_.Stop(limit);
  return discord_.Stop(LeftUntil(until)) && file;
}
