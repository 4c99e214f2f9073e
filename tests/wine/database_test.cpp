// The database publisher inside the stand-in player: without a client library, and with a
// stand-in libmysql.dll that records every call the plug-in makes into it, can reject every
// statement and can hold a call. The tests with the real library and a server are in servers/.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wine/wine_support.h"

namespace {

using namespace wine;

const char* kPlaylist =
    "C:\\Music\\Track.mp3\n"
    "  artist=O'Brien\n"
    "  title=It's \"x\" \\ y\n"
    "C:\\Music\\Other.mp3\n"
    "  title=Other\n";

// The statement of the first track: the default command with the tags escaped.
const char* kStatement =
    "insert into `tolby`.`winamp_played` (`fulltitle`) values ('O\\'Brien - It\\'s \\\"x\\\" \\\\ y')";

std::string StandInLibrary() { return BinDir() + "\\..\\standin-mysql\\libmysql.dll"; }

// The lines a stand-in recorded once one of them ends with until; empty if none ever does.
std::vector<std::string> CallsUntil(const std::string& path, const std::string& until) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 60000) {
    const std::vector<std::string> calls = ReadLines(path);
    for (const std::string& call : calls)
      if (call.size() >= until.size() && call.compare(call.size() - until.size(), until.size(), until) == 0)
        return calls;
    // Another process writes the file: there is nothing to wait on but the file itself.
    Sleep(20);
  }
  return {};
}

class DatabaseInPlayer : public ::testing::Test {
 protected:
  void SetUp() override { UseOnlyTheDatabase(); }

  void PutStandInLibraryBesidePlayer() {
    ASSERT_TRUE(CopyFileA(StandInLibrary().c_str(), dir.File("libmysql.dll").c_str(), FALSE))
        << "no stand-in at " << StandInLibrary();
  }

  // Starts the player on the script and returns at once; it is stopped when the test ends.
  std::unique_ptr<ChildProcess> StartPlayer(const std::string& script, std::vector<std::string> environment) {
    environment.push_back("SKORREL_MYSQL_RECORD=" + dir.File("calls.txt"));
    return wine::StartPlayer(dir, kPlaylist, script, environment);
  }

  TempDir dir;
};

TEST_F(DatabaseInPlayer, WithoutAClientLibraryThePlayerGoesOnAndQuitsAtOnce) {
  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 0\nplay 1\nquit\n");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Contains(run.lines, "action play 1"));
  EXPECT_TRUE(Contains(run.lines, "quit restored main=1 playlist=1"));
  EXPECT_TRUE(Contains(run.lines, "unloaded"));
}

TEST_F(DatabaseInPlayer, WithoutAClientLibraryTheWorkerLogsTheConnectFailureAndFinishes) {
  const std::string record = dir.File("dispatcher.log");
  ChildProcess dispatcher("\"" + BinDir() + "\\dispatcher_standin.exe\" \"" + record + "\"");
  ASSERT_TRUE(WaitForWindow("TFrmDispatcher", "CodeSite Dispatcher", 10000));
  SetString("CSDebug", "viewer.example");
  auto player = StartPlayer("play 0\nwait 120000\n", {});

  ASSERT_TRUE(WaitForPluginLog(record, "TThreadMySQLUpdater.Execute: finished"));
  const std::vector<std::string> expected = {
      "TThreadMySQLUpdater.Execute: starting", "TThreadMySQLUpdater.Execute: Connecting to database...",
      "TThreadMySQLUpdater.Execute: Exception occured trying to connect",
      "TThreadMySQLUpdater.Execute: finished"};
  EXPECT_EQ(LinesStartingWith(PluginLog(record), "TThreadMySQLUpdater"), expected);
}

TEST_F(DatabaseInPlayer, OnePublishedTrackMakesOneConnectionAndOneEscapedStatement) {
  PutStandInLibraryBesidePlayer();
  auto player = StartPlayer("play 0\nwait 120000\n", {});
  ASSERT_TRUE(player->Started());

  // A call with the wrong convention would have brought the player down long before this line.
  const std::vector<std::string> calls = CallsUntil(dir.File("calls.txt"), "mysql_thread_end()");
  const std::vector<std::string> expected = {
      "mysql_server_init(0)", "mysql_init(null)", "mysql_options(5, 'kivNormal')",
      "mysql_real_connect('127.0.0.1', 'winamp', 'pw', '', 0, null, 0)",
      // The stand-in lacks mysql_set_character_set, as old libraries do.
      "mysql_query('SET NAMES utf8mb4')", "mysql_get_host_info()", "mysql_get_server_info()",
      std::string("mysql_query('") + kStatement + "')", "mysql_free_result(null)", "mysql_close()",
      "mysql_thread_end()"};
  EXPECT_EQ(calls, expected);
}

// The player quits and unloads the plug-in while a worker sits on its box; closed, the box lets the
// worker finish, and the worker, last to hold the client library, ends it on its own thread.
TEST_F(DatabaseInPlayer, AWorkerOutlivingTheUnloadEndsTheClientLibraryOutsideTheLoaderLock) {
  PutStandInLibraryBesidePlayer();
  Go go;
  auto player = StartPlayer("play 0\nwaitevent " + go.Name() + " 60000\nquit\nwaitunload 60000\n",
                            {"SKORREL_MYSQL_REJECT=rejected"});
  ASSERT_NE(WaitForWindow("#32770", "Query failed", 60000), nullptr);
  go.Set();
  ASSERT_FALSE(CallsUntil(dir.File("player.out"), "unloaded").empty());

  SendMessageA(FindWindowA("#32770", "Query failed"), WM_COMMAND, IDOK, 0);
  EXPECT_EQ(player->Wait(60000), 0);
  EXPECT_TRUE(Contains(ReadLines(dir.File("player.out")), "module unmapped"));
  const std::vector<std::string> calls = ReadLines(dir.File("calls.txt"));
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
            (std::vector<std::string>{"mysql_close()", "mysql_thread_end()", "mysql_server_end()"}));
}

// The player exits while a worker waits for a slow server: the process ends at once, and nothing of
// the client library is ended after Windows has killed the worker inside it.
TEST_F(DatabaseInPlayer, ThePlayerExitsAtOnceWhileAWorkerIsInsideASlowConnect) {
  PutStandInLibraryBesidePlayer();
  Go go;
  auto player = StartPlayer("play 0\nwaitevent " + go.Name() + " 60000\nquit\n",
                            {"SKORREL_MYSQL_HOLD=mysql_real_connect 120000"});
  ASSERT_FALSE(CallsUntil(dir.File("calls.txt"), "0, null, 0)").empty());
  go.Set();
  // Well inside the connect's two minutes: nobody waited for the worker.
  EXPECT_EQ(player->Wait(60000), 0);
  const std::vector<std::string> calls = ReadLines(dir.File("calls.txt"));
  EXPECT_EQ(calls.back(), "mysql_real_connect('127.0.0.1', 'winamp', 'pw', '', 0, null, 0)");
}

}  // namespace
