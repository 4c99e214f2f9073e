#include "database/thread_mysql_updater.h"

#include "database/kivMySQL.h"
#include "database/mysql.h"
#include "runtime/handle.h"
#include "track/subtags.h"

void TThreadMySQLUpdater::Execute() {
  const auto& log = seams_.log;
  // Whatever happens below, this thread leaves no state behind in the client library.
  scope_exit endThread([] { EndMySQLThread(); });

  log("TThreadMySQLUpdater.Execute: starting");
  {
    TkivMySQLConn connection(seams_.queryFailedBox);
    log("TThreadMySQLUpdater.Execute: Connecting to database...");
    bool connected = false;
    try {
      connection.Connect(Host, UserName, Password, kMySQLOptionGroup);
      connected = true;
    } catch (...) {
      log("TThreadMySQLUpdater.Execute: Exception occured trying to connect");
    }
    if (connected) {
      log("TThreadMySQLUpdater.Execute: Performing query...");
      try {
        connection.Query(SQL, false);
      } catch (...) {
        log("TThreadMySQLUpdater.Execute: Exception occured executing query");
      }
    }
  }
  log("TThreadMySQLUpdater.Execute: finished");
}

std::unique_ptr<TThreadMySQLUpdater> PrepareMySQLUpdate(const TTrackMetaData& track,
                                                        const MySQLTarget& target, TagSource& tags,
                                                        MySQLUpdateSeams seams) {
  seams.log("MySQLSkorrel: Starting thread to send SQL to MySQL server...");
  auto worker = std::make_unique<TThreadMySQLUpdater>(seams);
  // With the tunnel the connection enters the plug-in's own listener on this machine.
  worker->Host = target.ThroughTunnel ? "127.0.0.1" : target.Server;
  worker->UserName = target.UserName;
  worker->Password = target.Password;
  bool usedFileName = false;
  worker->SQL = SubTags(tags, track, target.Command, true, &usedFileName);
  if (usedFileName) {
    seams.log("MySQLSkorrel: Skipped track - no tag resolved, so there is no statement to run");
    return nullptr;
  }
  return worker;
}

void StartMySQLUpdate(const TTrackMetaData& track, const MySQLTarget& target, TagSource& tags,
                      MySQLUpdateSeams seams) {
  if (auto worker = PrepareMySQLUpdate(track, target, tags, std::move(seams)))
    TThread::StartFreeOnTerminate(std::move(worker));
}
