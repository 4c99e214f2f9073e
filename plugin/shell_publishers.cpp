#include "plugin/shell_publishers.h"

#include <chrono>

#include "database/thread_mysql_updater.h"
#include "track/subtags.h"

void ShellPublishers::SetMsnLine(const TTrackMetaData& track) {
  MSNSetNowPlaying(messenger_, player_, track, settings_.MSNDefaultFormat, settings_.MSNFormat);
}

void ShellPublishers::ClearMsnLine() { MSNClearNowPlaying(messenger_); }

void ShellPublishers::SendMircCommand(const TTrackMetaData& track) {
  mIRCSendCommand(mirc_, player_, track, settings_.mIRCDDEName, settings_.mIRCDDECommand);
}

void ShellPublishers::StartDatabaseUpdate(const TTrackMetaData& track) {
  const MySQLTarget target{settings_.MySQLServer, settings_.MySQLUserName, settings_.MySQLPassword,
                           settings_.MySQLCommand, settings_.MySQLSSH};
  StartMySQLUpdate(track, target, player_);
}

void ShellPublishers::ShowTrack(const TTrackMetaData& track) {
  if (settings_.FileActive)
    file_.Write(settings_.FilePath, SubTags(player_, track, settings_.FileFormat, false));
  if (!settings_.DiscordActive) return;
  // The player answers at once, on this thread: these are its own window's requests.
  const long long positionMs = player_.GetOutputTime(0), lengthS = player_.GetOutputTime(1);
  DiscordActivity activity;
  activity.title = player_.Tag(track.FileName, "title");
  activity.artist = player_.Tag(track.FileName, "artist");
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  activity.startMs = now - (positionMs > 0 ? positionMs : 0);
  if (lengthS > 0) activity.endMs = activity.startMs + lengthS * 1000;
  discord_.Show(settings_.DiscordApplicationID, activity);
}

void ShellPublishers::HideTrack() {
  if (settings_.FileActive && settings_.FileClear) file_.Write(settings_.FilePath, "");
  discord_.Clear();
}

void ShellPublishers::EndWorkers() {
  file_.Stop();
  discord_.Stop();
}
