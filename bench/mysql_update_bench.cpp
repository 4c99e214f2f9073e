// A track change to its committed row, on a loopback MariaDB server: the plug-in's trigger and
// worker (tag expansion, a thread, connect through the option group, one INSERT, close) against a
// bare C function over the client library doing the same connect, insert and close, in the same
// run. Two more bare loops split the difference into its parts: a thread per row, and reading the
// option group, both of which the plug-in does by design.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bare_client.h"
#include "database/mysql.h"
#include "database/thread_mysql_updater.h"
#include "native/mariadb/mariadb_server.h"

namespace {

constexpr const char* kInsert =
    "insert into `tolby`.`winamp_played` (`fulltitle`) values ('Some Artist - Some Title')";

class Tags : public TagSource {
 public:
  std::string Tag(const std::string&, const std::string& name) override {
    return name == "artist" ? "Some Artist" : name == "title" ? "Some Title" : std::string();
  }
};

// Tells when a worker has gone: its seams hold the only other copies of a token.
class WorkerGone {
 public:
  MySQLUpdateSeams Seams() {
    gone_ = false;
    auto token = std::shared_ptr<void>(nullptr, [this](void*) {
      std::lock_guard<std::mutex> lock(mutex_);
      gone_ = true;
      changed_.notify_all();
    });
    MySQLUpdateSeams seams;
    seams.log = [token](std::string_view) {};
    seams.queryFailedBox = [token](const std::string&) {};
    return seams;
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return gone_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool gone_ = false;
};

void CheckRows(benchmark::State& state, const MariaDBServer& server) {
  if (server.Rows("SELECT COUNT(*) FROM tolby.winamp_played") !=
      std::vector<std::string>{std::to_string(state.iterations())})
    state.SkipWithError("a row went missing");
}

void TrackChangeToCommittedRow(benchmark::State& state) {
  MariaDBServer& server = MariaDBServer::Shared();
  server.EmptyTable();
  // The plug-in's own claim, so the library stays loaded from one worker to the next.
  MySQLLibraryUse plugin;
  MySQLTarget settings;
  settings.Server = "127.0.0.1";
  settings.UserName = MariaDBServer::kUser;
  settings.Password = MariaDBServer::kPassword;
  settings.Command = "insert into `tolby`.`winamp_played` (`fulltitle`) values ('%artist% - %title%')";
  Tags tags;
  WorkerGone worker;
  if (!LoadMySQLLibrary("libmysql.dll")) state.SkipWithError("no client library");
  for (auto _ : state) {
    StartMySQLUpdate({"C:\\Music\\track.mp3"}, settings, tags, worker.Seams());
    worker.Wait();
  }
  CheckRows(state, server);
}

void BareClient(benchmark::State& state) {
  MariaDBServer& server = MariaDBServer::Shared();
  server.EmptyTable();
  const unsigned port = static_cast<unsigned>(server.Port());
  for (auto _ : state) {
    if (!BareConnectInsertClose("127.0.0.1", MariaDBServer::kUser, MariaDBServer::kPassword, port, nullptr,
                                kInsert))
      state.SkipWithError("the bare client failed");
  }
  CheckRows(state, server);
}

void BareClientOnAThreadEach(benchmark::State& state) {
  MariaDBServer& server = MariaDBServer::Shared();
  server.EmptyTable();
  const unsigned port = static_cast<unsigned>(server.Port());
  for (auto _ : state) {
    std::thread([port] {
      BareConnectInsertClose("127.0.0.1", MariaDBServer::kUser, MariaDBServer::kPassword, port, nullptr,
                             kInsert);
    }).join();
  }
  CheckRows(state, server);
}

void BareClientReadingTheOptionGroup(benchmark::State& state) {
  MariaDBServer& server = MariaDBServer::Shared();
  server.EmptyTable();
  for (auto _ : state) {
    if (!BareConnectInsertClose("127.0.0.1", MariaDBServer::kUser, MariaDBServer::kPassword, 0, "kivNormal",
                                kInsert))
      state.SkipWithError("the bare client failed");
  }
  CheckRows(state, server);
}

BENCHMARK(BareClient)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(TrackChangeToCommittedRow)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BareClientOnAThreadEach)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BareClientReadingTheOptionGroup)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

}  // namespace
