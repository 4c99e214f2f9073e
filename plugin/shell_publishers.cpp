#include "plugin/shell_publishers.h"

// The destinations are wired in as they are built; until then a call does nothing.
void ShellPublishers::MSNSetNowPlaying(const TTrackMetaData& track) {
  ::MSNSetNowPlaying(messenger_, player_, track, settings_.MSNDefaultFormat, settings_.MSNFormat);
}
void ShellPublishers::MSNClearNowPlaying() { ::MSNClearNowPlaying(messenger_); }
void ShellPublishers::mIRCSendCommand(const TTrackMetaData& track) {
  ::mIRCSendCommand(mirc_, player_, track, settings_.mIRCDDEName, settings_.mIRCDDECommand);
}
void ShellPublishers::StartMySQLUpdate(const TTrackMetaData&) {}
