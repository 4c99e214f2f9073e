#include "plugin/shell_publishers.h"

// The destinations are wired in as they are built; until then a call does nothing.
void ShellPublishers::MSNSetNowPlaying(const TTrackMetaData&) {}
void ShellPublishers::MSNClearNowPlaying() {}
void ShellPublishers::mIRCSendCommand(const TTrackMetaData&) {}
void ShellPublishers::StartMySQLUpdate(const TTrackMetaData&) {}
