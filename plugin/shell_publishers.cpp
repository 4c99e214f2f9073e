#include "plugin/shell_publishers.h"

#include "database/thread_mysql_updater.h"

void ShellPublishers::MSNSetNowPlaying(const TTrackMetaData& track) {
  ::MSNSetNowPlaying(messenger_, player_, track, settings_.MSNDefaultFormat, settings_.MSNFormat);
}
void ShellPublishers::MSNClearNowPlaying() { ::MSNClearNowPlaying(messenger_); }
void ShellPublishers::mIRCSendCommand(const TTrackMetaData& track) {
  ::mIRCSendCommand(mirc_, player_, track, settings_.mIRCDDEName, settings_.mIRCDDECommand);
}
// The worker holds a reference on the module while it runs, so the player's quit never waits for it.
void ShellPublishers::StartMySQLUpdate(const TTrackMetaData& track) {
  ::StartMySQLUpdate(track, settings_, player_);
}
