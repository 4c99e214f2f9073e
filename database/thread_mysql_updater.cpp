#include "database/thread_mysql_updater.h"

#include <utility>

#include "database/mysql_errors.h"
#include "runtime/thread.h"
#include "track/subtags.h"

namespace {

// The server for a target: with the tunnel the connection enters the plug-in's own listener on
// this machine.
std::string HostOf(const MySQLTarget& target) { return target.ThroughTunnel ? "127.0.0.1" : target.Server; }

constexpr const char* kNoCharset = "the connection's character set could be set to neither utf8mb4 nor utf8";

bool SameConnection(const MySQLTarget& a, const MySQLTarget& b) {
  return HostOf(a) == HostOf(b) && a.UserName == b.UserName && a.Password == b.Password;
}

HistorySenderOptions WithDefaults(HistorySenderOptions options, const MySQLUpdateSeams& seams) {
  if (options.queue.empty()) options.queue = kMySQLQueue;
  if (!options.log) options.log = seams.log;
  return options;
}

}  // namespace

TThreadMySQLUpdater::TThreadMySQLUpdater(MySQLUpdateSeams seams) : seams_(std::move(seams)) {
  // A modal box on the sender's thread would hold up every statement behind the refused one.
  seams_.queryFailedBox = [box = std::move(seams_.queryFailedBox)](const std::string& report) {
    RunDetached([box, report] { box(report); });
  };
}

void TThreadMySQLUpdater::SetTarget(const MySQLTarget& target) {
  const std::lock_guard<std::mutex> hold(targetLock_);
  target_ = target;
}

HistoryDestination::Result TThreadMySQLUpdater::Send(const OutboxEntry& entry) {
  const auto& log = seams_.log;
  MySQLTarget target;
  {
    const std::lock_guard<std::mutex> hold(targetLock_);
    target = target_;
  }
  if (connection_ && !SameConnection(target, connected_)) connection_.reset();
  // A sender started again after an earlier one ended (a second Init) holds the library afresh.
  if (!libraryUse_) libraryUse_.emplace();

  log("TThreadMySQLUpdater.Execute: starting");
  log("TThreadMySQLUpdater.Execute: Connecting to database...");
  if (!connection_) {
    auto connection = std::make_unique<TkivMySQLConn>(seams_.queryFailedBox);
    try {
      connection->Connect(HostOf(target), target.UserName, target.Password, kMySQLOptionGroup);
    } catch (const std::exception& e) {
      log("TThreadMySQLUpdater.Execute: Exception occured trying to connect");
      log("TThreadMySQLUpdater.Execute: finished");
      // Nothing ran, so whatever the reason the statement is worth another try.
      return {Outcome::Retry, e.what()};
    }
    if (connection->Charset() == MySQLCharset::Unknown) {
      if (!std::exchange(charsetRefused_, true))
        log("TThreadMySQLUpdater.Execute: the server took neither utf8mb4 nor utf8 as the connection's "
            "character set, so no statement is sent; they wait in the outbox");
      log("TThreadMySQLUpdater.Execute: finished");
      return {Outcome::Retry, kNoCharset};
    }
    charsetRefused_ = false;
    connection_ = std::move(connection);
    connected_ = target;
  }
  log("TThreadMySQLUpdater.Execute: Performing query...");
  Result result;
  try {
    if (!connection_->Query(entry.body, false) && connection_->LastQueryStatus() != 0) {
      const bool transient = IsTransientMySQLError(connection_->LastErrorNumber());
      result = {transient ? Outcome::Retry : Outcome::Refused, connection_->LastError()};
      // The connection may be gone or half-way through something; the next try makes a new one.
      if (transient) connection_.reset();
    }
  } catch (const std::exception& e) {
    log("TThreadMySQLUpdater.Execute: Exception occured executing query");
    connection_.reset();
    result = {Outcome::Retry, e.what()};
  }
  log("TThreadMySQLUpdater.Execute: finished");
  return result;
}

void TThreadMySQLUpdater::End() {
  connection_.reset();
  EndMySQLThread();
  // The last user ends the library here, or the quit does on the player's thread.
  libraryUse_.reset();
}

std::optional<std::string> PrepareMySQLUpdate(const TTrackMetaData& track, const MySQLTarget& target,
                                              TagSource& tags, const MySQLUpdateSeams& seams) {
  seams.log("MySQLSkorrel: Starting thread to send SQL to MySQL server...");
  bool usedFileName = false;
  std::string sql = SubTags(tags, track, target.Command, true, &usedFileName);
  if (usedFileName) {
    seams.log("MySQLSkorrel: Skipped track - no tag resolved, so there is no statement to run");
    return std::nullopt;
  }
  return sql;
}

MySQLPublisher::MySQLPublisher(MySQLUpdateSeams seams, HistorySenderOptions options)
    : seams_(seams),
      destination_(std::make_shared<TThreadMySQLUpdater>(seams)),
      sender_(destination_, WithDefaults(std::move(options), seams)) {}

void MySQLPublisher::Publish(const TTrackMetaData& track, const MySQLTarget& target, TagSource& tags,
                             const std::string& outboxPath) {
  std::optional<std::string> sql = PrepareMySQLUpdate(track, target, tags, seams_);
  destination_->SetTarget(target);
  if (sql)
    sender_.Hand(std::move(*sql), outboxPath);
  else
    sender_.Nudge(outboxPath);
}

void MySQLPublisher::Resume(const MySQLTarget& target, const std::string& outboxPath) {
  destination_->SetTarget(target);
  sender_.Nudge(outboxPath);
}
