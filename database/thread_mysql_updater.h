#pragma once
// The database publisher: for each track the trigger expands the user's statement and hands it, with
// copies of the connection settings, to a worker thread of its own, so the player's window thread
// never waits on the network. Each worker connects, runs the one statement and frees itself.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "database/mysql.h"
#include "database/query_failed_box.h"
#include "diag/globals.h"
#include "runtime/thread.h"
#include "track/track.h"

// The database settings a trigger copies for its worker, so that later edits never reach it.
struct MySQLTarget {
  std::string Server;
  std::string UserName;
  std::string Password;
  std::string Command;         // the statement's template
  bool ThroughTunnel = false;  // connect to the plug-in's own tunnel listener on this machine
};

// Where a worker's lines go and where its wrapper shows the "Query failed" box.
struct MySQLUpdateSeams {
  std::function<void(std::string_view)> log = &LogDebug;
  QueryFailedBox queryFailedBox = &ShowQueryFailedBox;
};

class TThreadMySQLUpdater : public TThread {
 public:
  explicit TThreadMySQLUpdater(MySQLUpdateSeams seams = {}) : seams_(std::move(seams)) {}

  // Set before the thread starts, never changed afterwards.
  std::string Host;
  std::string UserName;
  std::string Password;
  std::string SQL;

 protected:
  // Connects with the option group "kivNormal", runs SQL without keeping its result, and logs each
  // step; every failure ends as a log line.
  void Execute() override;

 private:
  MySQLUpdateSeams seams_;
  // Declared after the seams, so it is let go first: whoever sees the seams go may rely on it.
  MySQLLibraryUse libraryUse_;
};

// The option group of the client library's option files that every connection reads.
inline constexpr const char* kMySQLOptionGroup = "kivNormal";

// A filled worker for track, not yet started: the target copied, the statement expanded with SQL
// escaping. Null, after one log line, when no tag of the track resolved: the statement would then
// be the bare file name, which is never run as SQL.
std::unique_ptr<TThreadMySQLUpdater> PrepareMySQLUpdate(const TTrackMetaData& track,
                                                        const MySQLTarget& target, TagSource& tags,
                                                        MySQLUpdateSeams seams = {});

// The trigger, on the player's window thread: prepares the worker and starts it free-on-terminate.
// Returns at once; nothing waits for the worker or remembers it. On Windows the worker's thread
// holds a reference on the plug-in's module until its very last act, so quitting waits for no
// worker and the DLL stays mapped until the last one has left it.
void StartMySQLUpdate(const TTrackMetaData& track, const MySQLTarget& target, TagSource& tags,
                      MySQLUpdateSeams seams = {});
