// The database publisher inside the stand-in player: without a client library, and with a
// stand-in libmysql.dll that records every call the plug-in makes into it, can reject every
// statement and can hold a call. The tests with the real library and a server are in servers/.
#include <gtest/gtest.h>

#include <algorithm>
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
    "  title=Other\n"
    "C:\\Music\\Privet.mp3\n"
    "  title=Privet \xF0\x9F\x8E\xB5\n";

// The statement of the first track: the default command with the tags escaped.
const char* kStatement =
    "insert into `tolby`.`winamp_played` (`fulltitle`) values ('O''Brien - It''s \\\"x\\\" \\\\ y')";

std::string StandInLibrary() { return BinDir() + "\\..\\standin-mysql\\libmysql.dll"; }

// The lines a stand-in recorded once count of them end with until; empty if that never happens.
std::vector<std::string> CallsUntil(const std::string& path, const std::string& until,
                                    std::size_t count = 1) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 60000) {
    const std::vector<std::string> calls = ReadLines(path);
    std::size_t seen = 0;
    for (const std::string& call : calls)
      if (call.size() >= until.size() && call.compare(call.size() - until.size(), until.size(), until) == 0)
        ++seen;
    if (seen >= count) return calls;
    // Another process writes the file: there is nothing to wait on but the file itself.
    Sleep(20);
  }
  return {};
}

std::size_t CountOf(const std::vector<std::string>& calls, const std::string& call) {
  return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
}

const std::string kConnect = "mysql_real_connect('127.0.0.1', 'winamp', 'pw', '', 0, null, 0)";
const std::string kQuery = std::string("mysql_query('") + kStatement + "')";
const std::string kOtherQuery =
    "mysql_query('insert into `tolby`.`winamp_played` (`fulltitle`) values (' - Other')')";
// What every quit that let the sender end leaves last: the library ended on a thread that can
// still start threads, never under the loader lock.
const std::vector<std::string> kEnded = {"mysql_close()", "mysql_thread_end()", "mysql_server_end()"};

std::vector<std::string> Last(const std::vector<std::string>& calls, std::size_t n) {
  return std::vector<std::string>(calls.end() - static_cast<std::ptrdiff_t>(std::min(n, calls.size())),
                                  calls.end());
}

class DatabaseInPlayer : public ::testing::Test {
 protected:
  void SetUp() override { UseOnlyTheDatabase(dir); }

  void PutStandInLibraryBesidePlayer() {
    ASSERT_TRUE(CopyFileA(StandInLibrary().c_str(), dir.File("libmysql.dll").c_str(), FALSE))
        << "no stand-in at " << StandInLibrary();
  }

  // Starts the player on the script and returns at once; it is stopped when the test ends.
  std::unique_ptr<ChildProcess> StartPlayer(const std::string& script, std::vector<std::string> environment) {
    environment.push_back("SKORREL_MYSQL_RECORD=" + dir.File("calls.txt"));
    return wine::StartPlayer(dir, kPlaylist, script, environment);
  }

  std::vector<std::string> Calls() const { return ReadLines(dir.File("calls.txt")); }
  std::vector<std::string> PlayerOut() const { return ReadLines(dir.File("player.out")); }

  TempDir dir;
};

TEST_F(DatabaseInPlayer, WithoutAClientLibraryThePlayerGoesOnAndQuitsAtOnce) {
  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 0\nplay 1\nquit\n");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Contains(run.lines, "action play 1"));
  EXPECT_TRUE(Contains(run.lines, "quit restored main=1 playlist=1"));
  EXPECT_TRUE(Contains(run.lines, "unloaded"));
  EXPECT_LT(QuitMs(run.lines), 2000);
}

TEST_F(DatabaseInPlayer, WithoutAClientLibraryTheSenderLogsTheConnectFailureAndKeepsTheStatement) {
  const std::string record = dir.File("dispatcher.log");
  ChildProcess dispatcher("\"" + BinDir() + "\\dispatcher_standin.exe\" \"" + record + "\"");
  ASSERT_TRUE(WaitForWindow("TFrmDispatcher", "CodeSite Dispatcher", 10000));
  SetString("CSDebug", "viewer.example");
  auto player = StartPlayer("play 0\nwait 120000\n", {});

  ASSERT_TRUE(
      WaitForPluginLog(record, "Outbox: mysql: 1 entry waits; trying again in 2 s or at the next track ("));
  const std::vector<std::string> expected = {
      "TThreadMySQLUpdater.Execute: starting", "TThreadMySQLUpdater.Execute: Connecting to database...",
      "TThreadMySQLUpdater.Execute: Exception occured trying to connect",
      "TThreadMySQLUpdater.Execute: finished"};
  // Later tries of the back-off may follow; the first is the one-shot worker's lines.
  const std::vector<std::string> tries = LinesStartingWith(PluginLog(record), "TThreadMySQLUpdater");
  ASSERT_GE(tries.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(tries.begin(), tries.begin() + 4), expected);
}

TEST_F(DatabaseInPlayer, OnePublishedTrackMakesOneConnectionAndOneEscapedStatementEndedAtQuit) {
  PutStandInLibraryBesidePlayer();
  Go go;
  auto player = StartPlayer("play 0\nwaitevent " + go.Name() + " 60000\nquit\nwaitunload 60000\n", {});
  ASSERT_TRUE(player->Started());

  // A call with the wrong convention would have brought the player down long before this line.
  ASSERT_FALSE(CallsUntil(dir.File("calls.txt"), "mysql_free_result(null)").empty());
  go.Set();
  EXPECT_EQ(player->Wait(60000), 0);
  const std::vector<std::string> expected = {
      "mysql_server_init(0)", "mysql_init(null)", "mysql_options(5, 'kivNormal')", "mysql_options(0, 10)",
      "mysql_options(11, 30)", "mysql_options(12, 30)", kConnect,
      // The stand-in lacks mysql_set_character_set, as old libraries do.
      "mysql_query('SET NAMES utf8mb4')", "mysql_get_host_info()", "mysql_get_server_info()", kQuery,
      "mysql_free_result(null)", "mysql_close()", "mysql_thread_end()", "mysql_server_end()"};
  EXPECT_EQ(Calls(), expected);
  EXPECT_TRUE(Contains(PlayerOut(), "module unmapped"));
}

// Tracks in a row share the connection; ten quiet seconds close it, and the next track opens one.
TEST_F(DatabaseInPlayer, TheConnectionIsKeptForTheNextTrackAndClosedWhenIdle) {
  PutStandInLibraryBesidePlayer();
  Go again, quit;
  auto player = StartPlayer("play 0\nplay 1\nwaitevent " + again.Name() + " 60000\nplay 0\nwaitevent " +
                                quit.Name() + " 60000\nquit\n",
                            {});
  std::vector<std::string> calls = CallsUntil(dir.File("calls.txt"), "mysql_close()");
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(CountOf(calls, kConnect), 1u);
  EXPECT_EQ(LinesStartingWith(calls, "mysql_query('insert"), (std::vector<std::string>{kQuery, kOtherQuery}));
  EXPECT_EQ(calls.back(), "mysql_close()") << "the idle close ended more than the connection";

  again.Set();
  calls = CallsUntil(dir.File("calls.txt"), kQuery, 2);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(CountOf(calls, kConnect), 2u);
  quit.Set();
  EXPECT_EQ(player->Wait(60000), 0);
  EXPECT_EQ(Last(Calls(), 3), kEnded);
}

// A refused statement's box waits on a thread of its own: the next statement goes meanwhile, the
// quit does not wait for the box, and the module stays mapped until the box is closed.
TEST_F(DatabaseInPlayer, ARefusedStatementsBoxHoldsUpNeitherTheNextStatementNorTheQuit) {
  PutStandInLibraryBesidePlayer();
  Go go;
  auto player = StartPlayer("play 0\nplay 1\nwaitevent " + go.Name() + " 60000\nquit\nwaitunload 60000\n",
                            {"SKORREL_MYSQL_REJECT=rejected"});
  ASSERT_NE(WaitForWindow("#32770", "Query failed", 60000), nullptr);
  ASSERT_FALSE(CallsUntil(dir.File("calls.txt"), kOtherQuery).empty());
  go.Set();
  ASSERT_FALSE(CallsUntil(dir.File("player.out"), "unloaded").empty());
  EXPECT_LT(QuitMs(PlayerOut()), 2000);

  // Every box shown, then the player exits once the last one lets go of the module.
  const DWORD start = GetTickCount();
  while (!player->Ended() && GetTickCount() - start < 60000) {
    if (HWND box = FindWindowA("#32770", "Query failed")) SendMessageA(box, WM_COMMAND, IDOK, 0);
    Sleep(20);
  }
  EXPECT_EQ(player->Wait(60000), 0);
  EXPECT_TRUE(Contains(PlayerOut(), "module unmapped"));
  const std::vector<std::string> calls = Calls();
  // Refused, each went once and was not tried again.
  EXPECT_EQ(CountOf(calls, kQuery), 1u);
  EXPECT_EQ(CountOf(calls, kOtherQuery), 1u);
  EXPECT_EQ(Last(calls, 3), kEnded);
}

// The player quits while the sender is inside a slow statement: the quit returns at once, the
// sender finishes the statement, and, last to hold the client library, ends it on its own thread.
TEST_F(DatabaseInPlayer, ASenderOutlivingTheQuitEndsTheClientLibraryOutsideTheLoaderLock) {
  PutStandInLibraryBesidePlayer();
  Go go;
  auto player = StartPlayer("play 0\nwaitevent " + go.Name() + " 60000\nquit\nwaitunload 60000\n",
                            {"SKORREL_MYSQL_HOLD=mysql_query 3000"});
  ASSERT_FALSE(CallsUntil(dir.File("calls.txt"), "mysql_query('SET NAMES utf8mb4')").empty());
  go.Set();
  EXPECT_EQ(player->Wait(60000), 0);
  const std::vector<std::string> out = PlayerOut();
  EXPECT_LT(QuitMs(out), 2000);
  EXPECT_TRUE(Contains(out, "module unmapped"));
  const std::vector<std::string> calls = Calls();
  EXPECT_EQ(CountOf(calls, kQuery), 1u);
  EXPECT_EQ(Last(calls, 3), kEnded);
}

// The player exits while the sender waits for a slow server: the quit and the process end at once,
// and nothing of the client library is ended after Windows has killed the sender inside it.
TEST_F(DatabaseInPlayer, ThePlayerExitsAtOnceWhileTheSenderIsInsideASlowConnect) {
  PutStandInLibraryBesidePlayer();
  Go go;
  auto player = StartPlayer("play 0\nwaitevent " + go.Name() + " 60000\nquit\n",
                            {"SKORREL_MYSQL_HOLD=mysql_real_connect 120000"});
  ASSERT_FALSE(CallsUntil(dir.File("calls.txt"), "0, null, 0)").empty());
  go.Set();
  // Well inside the connect's two minutes: nobody waited for the sender.
  EXPECT_EQ(player->Wait(60000), 0);
  EXPECT_LT(QuitMs(PlayerOut()), 2000);
  EXPECT_EQ(Calls().back(), kConnect);
}

// A server whose utf8 holds three bytes gets U+FFFD for an emoji; one that takes neither utf8mb4
// nor utf8 gets no statement at all, since the escaping is not safe in every character set.
TEST_F(DatabaseInPlayer, TheStatementFollowsTheCharacterSetTheConnectionTook) {
  const struct {
    const char* charsets;
    const char* last;  // the call that ends the connection's part
    bool sent;
  } cases[] = {{"utf8", "mysql_free_result(null)", true}, {"latin1", "mysql_close()", false}};
  for (const auto& c : cases) {
    TempDir own;
    UseOnlyTheDatabase(own);
    ASSERT_TRUE(CopyFileA(StandInLibrary().c_str(), own.File("libmysql.dll").c_str(), FALSE));
    Go go;
    auto player = wine::StartPlayer(own, kPlaylist, "play 2\nwaitevent " + go.Name() + " 60000\nquit\n",
                                    {"SKORREL_MYSQL_RECORD=" + own.File("calls.txt"),
                                     std::string("SKORREL_MYSQL_CHARSETS=") + c.charsets});
    const std::vector<std::string> calls = CallsUntil(own.File("calls.txt"), c.last);
    go.Set();
    EXPECT_EQ(player->Wait(60000), 0);
    ASSERT_FALSE(calls.empty()) << c.charsets;
    EXPECT_TRUE(Contains(calls, "mysql_query('SET NAMES utf8')")) << c.charsets;
    EXPECT_EQ(Contains(calls,
                       "mysql_query('insert into `tolby`.`winamp_played` (`fulltitle`) values (' - Privet "
                       "\xEF\xBF\xBD')')"),
              c.sent)
        << c.charsets;
  }
}

}  // namespace
