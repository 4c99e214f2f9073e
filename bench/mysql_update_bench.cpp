// Statements to committed rows on a loopback MariaDB server: the plug-in's sender draining a
// backlog of 1,000 from its outbox on one connection, against the way before it, a connection per
// statement; and the bare client's connect, insert and close, alone, on a thread each and reading
// the option group, which split the cost of a connection into its parts.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bare_client.h"
#include "database/mysql.h"
#include "database/thread_mysql_updater.h"
#include "native/mariadb/mariadb_server.h"
#include "outbox/outbox.h"

namespace {

constexpr const char* kInsert =
    "insert into `tolby`.`winamp_played` (`fulltitle`) values ('Some Artist - Some Title')";

// Counts the statements the sender ran, so a benchmark can wait for the last without polling.
class Performed {
 public:
  MySQLUpdateSeams Seams() {
    MySQLUpdateSeams seams;
    seams.log = [this](std::string_view line) {
      if (line != "TThreadMySQLUpdater.Execute: finished") return;
      std::lock_guard<std::mutex> lock(mutex_);
      ++count_;
      changed_.notify_all();
    };
    seams.queryFailedBox = [](const std::string&) {};
    return seams;
  }
  void WaitFor(long count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return count_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  long count_ = 0;
};

void CheckRows(benchmark::State& state, const MariaDBServer& server) {
  if (server.Rows("SELECT COUNT(*) FROM tolby.winamp_played") !=
      std::vector<std::string>{std::to_string(state.iterations())})
    state.SkipWithError("a row went missing");
}

constexpr int kBacklog = 1000;

// A backlog of statements, as a day offline leaves it, sent by the sender on its one connection.
void SenderDrainsABacklog(benchmark::State& state) {
  MariaDBServer& server = MariaDBServer::Shared();
  server.EmptyTable();
  MySQLLibraryUse plugin;
  if (!LoadMySQLLibrary("libmysql.dll")) state.SkipWithError("no client library");
  MySQLTarget settings;
  settings.Server = "127.0.0.1";
  settings.UserName = MariaDBServer::kUser;
  settings.Password = MariaDBServer::kPassword;
  const std::string path = std::filesystem::temp_directory_path() / "skorrel-bench-outbox.sqlite3";
  for (auto _ : state) {
    state.PauseTiming();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    Outbox(path, kMySQLQueue, nullptr).Store(std::vector<std::string>(kBacklog, kInsert), 0);
    Performed performed;
    MySQLPublisher publisher(performed.Seams());
    state.ResumeTiming();
    publisher.Resume(settings, path);
    performed.WaitFor(kBacklog);
    publisher.Stop(std::chrono::seconds(60));
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  state.SetItemsProcessed(state.iterations() * kBacklog);
  if (server.Rows("SELECT COUNT(*) FROM tolby.winamp_played") !=
      std::vector<std::string>{std::to_string(state.iterations() * kBacklog)})
    state.SkipWithError("a row went missing");
}

// The way before the outbox: a connection of its own for every statement.
void ConnectionPerStatement(benchmark::State& state) {
  MariaDBServer& server = MariaDBServer::Shared();
  server.EmptyTable();
  for (auto _ : state)
    for (int i = 0; i < kBacklog; ++i)
      if (!BareConnectInsertClose("127.0.0.1", MariaDBServer::kUser, MariaDBServer::kPassword, 0, "kivNormal",
                                  kInsert))
        state.SkipWithError("the bare client failed");
  state.SetItemsProcessed(state.iterations() * kBacklog);
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
BENCHMARK(SenderDrainsABacklog)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(ConnectionPerStatement)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BareClientOnAThreadEach)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BareClientReadingTheOptionGroup)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

}  // namespace
