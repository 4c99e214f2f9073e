#include "plugin/shell_publishers.h"

#include "database/thread_mysql_updater.h"

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
