#pragma once
// The database publisher: for each track the trigger expands the user's statement on the player's
// window thread and hands it to the one long-lived database sender, which stores it in the outbox
// and runs the queue oldest first on one connection, kept open while statements follow each other.
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "database/kivMySQL.h"
#include "database/mysql.h"
#include "database/query_failed_box.h"
#include "diag/globals.h"
#include "outbox/history_sender.h"
#include "track/track.h"

// The database settings the sender connects with; the latest handed over wins.
struct MySQLTarget {
  std::string Server;
  std::string UserName;
  std::string Password;
  std::string Command;         // the statement's template
  bool ThroughTunnel = false;  // connect to the plug-in's own tunnel listener on this machine

  bool operator==(const MySQLTarget&) const = default;
};

// Where the sender's lines go and where its wrapper shows the "Query failed" box.
struct MySQLUpdateSeams {
  std::function<void(std::string_view)> log = &LogDebug;
  QueryFailedBox queryFailedBox = &ShowQueryFailedBox;
};

// The option group of the client library's option files that every connection reads.
inline constexpr const char* kMySQLOptionGroup = "kivNormal";
// The database's queue in the outbox.
inline constexpr const char* kMySQLQueue = "mysql";

// Runs one stored statement at a time on the sender's thread, logging each step as the one-shot
// worker did, so a server that is always there sees the same lines and rows.
class TThreadMySQLUpdater final : public HistoryDestination {
 public:
  explicit TThreadMySQLUpdater(MySQLUpdateSeams seams = {});
  // From any thread: the settings of the next connection. A different one closes the open one.
  void SetTarget(const MySQLTarget& target);

  Result Send(const OutboxEntry& entry) override;
  void Idle() override { connection_.reset(); }
  // Leaves no state behind in the client library on the sender's thread.
  void End() override;

 private:
  MySQLUpdateSeams seams_;
  std::mutex targetLock_;
  MySQLTarget target_;
  // The sender thread's own.
  MySQLTarget connected_;
  // The refused character set was said once; a connection that takes one says it again next time.
  bool charsetRefused_ = false;
  // Declared after the seams, so it is let go first: whoever sees the seams go may rely on it.
  // Let go by End, on the sender's thread: the module's state, which owns this object, is
  // destroyed under the loader lock, where the library must not be ended. Taken again by Send.
  std::optional<MySQLLibraryUse> libraryUse_{std::in_place};
  std::unique_ptr<TkivMySQLConn> connection_;
};

// The statement for track: the template expanded with SQL escaping. None, after one log line, when
// no tag of the track resolved: the statement would then be the bare file name, which is never
// run as SQL.
std::optional<std::string> PrepareMySQLUpdate(const TTrackMetaData& track, const MySQLTarget& target,
                                              TagSource& tags, const MySQLUpdateSeams& seams = {});

// The trigger and its sender, owned by the shell.
class MySQLPublisher {
 public:
  explicit MySQLPublisher(MySQLUpdateSeams seams = {}, HistorySenderOptions options = {});

  // On the player's window thread: prepares the statement and hands it over, returning at once.
  void Publish(const TTrackMetaData& track, const MySQLTarget& target, TagSource& tags,
               const std::string& outboxPath);
  // At start-up and after a save: what waits from before is sent with these settings.
  void Resume(const MySQLTarget& target, const std::string& outboxPath);
  HistoryStatus Status() const { return sender_.Status(); }
  void SendFailedAgain() { sender_.SendFailedAgain(); }
  void DiscardFailed() { sender_.DiscardFailed(); }
  // See HistorySender::Stop.
  bool Stop(std::chrono::milliseconds limit) { return sender_.Stop(limit); }

 private:
  MySQLUpdateSeams seams_;
  std::shared_ptr<TThreadMySQLUpdater> destination_;
  HistorySender sender_;
};
