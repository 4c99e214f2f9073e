// The database publisher inside the stand-in player with the real client library of the build,
// against the MariaDB server that with_servers.sh started. The library finds the server's port
// where a user's would: under [kivNormal] in a my.ini, here in the folder named by MARIADB_HOME.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tunnel/blcksock.h"
#include "wine/servers/server_sql.h"
#include "wine/wine_support.h"

namespace {

using namespace wine;

std::string MariaDBPort() {
  const char* port = std::getenv("SKORREL_MARIADB_PORT");
  return port ? port : "";
}

const std::vector<std::string> kStoredLog = {
    "TThreadMySQLUpdater.Execute: starting", "TThreadMySQLUpdater.Execute: Connecting to database...",
    "TThreadMySQLUpdater.Execute: Performing query...", "TThreadMySQLUpdater.Execute: finished"};
const std::vector<std::string> kConnectFailedLog = {
    "TThreadMySQLUpdater.Execute: starting", "TThreadMySQLUpdater.Execute: Connecting to database...",
    "TThreadMySQLUpdater.Execute: Exception occured trying to connect",
    "TThreadMySQLUpdater.Execute: finished"};

class DatabaseWithServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(port.empty()) << "run through tests/wine/servers/with_servers.sh, which starts the servers";
    ASSERT_TRUE(sql.Connected()) << sql.Error();
    UseOnlyTheDatabase(dir);
    SetString("CSDebug", "viewer.example");
    dispatcher =
        std::make_unique<ChildProcess>("\"" + BinDir() + "\\dispatcher_standin.exe\" \"" + record + "\"");
    ASSERT_TRUE(WaitForWindow("TFrmDispatcher", "CodeSite Dispatcher", 10000));
    // The player's folder is shared: the library goes into its working folder, also searched.
    ASSERT_TRUE(CopyFileA(BuiltClientLibrary().c_str(), dir.File("libmysql.dll").c_str(), FALSE))
        << "no " << BuiltClientLibrary();
    lastId = sql.Value("SELECT COALESCE(MAX(id), 0) FROM tolby.winamp_played");
  }

  void TearDown() override {
    player.reset();
    DeleteSettings();
  }

  // Starts the player with the lines of [kivNormal] given; it runs actions, then quits when the
  // test says so.
  void Start(const std::string& playlist, const std::string& optionLines, const std::string& actions) {
    WriteText(dir.File("my.ini"), "[kivNormal]\n" + optionLines);
    player = StartPlayer(dir, playlist, actions + "waitevent " + quit.Name() + " 120000\nquit\nwaitunload 10000\n",
                         {"MARIADB_HOME=" + dir.Path()});
    ASSERT_TRUE(player->Started());
  }

  void PlayFirstTrack(const std::string& playlist, const std::string& optionLines) {
    Start(playlist, optionLines, "play 0\n");
  }

  // The sender's log lines of its first try, once it has finished.
  std::vector<std::string> WorkerLog() {
    EXPECT_TRUE(WaitForPluginLog(record, "TThreadMySQLUpdater.Execute: finished"))
        << "the worker never finished";
    std::vector<std::string> lines = LinesStartingWith(PluginLog(record), "TThreadMySQLUpdater.Execute");
    // A statement kept for a retry is tried again later; those lines are not the first try's.
    const auto finished = std::find(lines.begin(), lines.end(), "TThreadMySQLUpdater.Execute: finished");
    if (finished != lines.end()) lines.erase(finished + 1, lines.end());
    return lines;
  }

  // Waits until the table holds count rows more than at the start, or a minute has passed.
  std::vector<std::string> NewRowsHex(std::size_t count) {
    std::vector<std::string> rows;
    const DWORD start = GetTickCount();
    // The server is another process: there is nothing to wait on but its answer.
    while ((rows = NewRowsHex()).size() < count && GetTickCount() - start < 60000) Sleep(100);
    return rows;
  }

  // The rows this test added, hex-encoded so that every byte compares exactly.
  std::vector<std::string> NewRowsHex() {
    std::vector<std::string> rows;
    EXPECT_TRUE(sql.Run(
        "SELECT HEX(fulltitle) FROM tolby.winamp_played WHERE id > " + lastId + " ORDER BY id", &rows))
        << sql.Error();
    return rows;
  }

  // The player quits at once and unloads the plug-in, which leaves nothing of the library running.
  void ExpectCleanQuit() {
    quit.Set();
    EXPECT_EQ(player->Wait(30000), 0) << "the player hangs";
    const std::vector<std::string> out = ReadLines(dir.File("player.out"));
    EXPECT_TRUE(Contains(out, "module unmapped"));
    EXPECT_LT(QuitMs(out), 2000);
  }

  // The sender's line when it keeps a statement for later; empty if none came within a minute.
  std::string RetryLine(const std::string& start) {
    if (!WaitForPluginLog(record, start)) return {};
    return LinesStartingWith(PluginLog(record), start).front();
  }

  const std::string port = MariaDBPort();
  ServerSql sql{port};
  std::string lastId;
  TempDir dir;
  const std::string record = dir.File("log.txt");
  std::unique_ptr<ChildProcess> dispatcher;
  Go quit;
  std::unique_ptr<ChildProcess> player;
};

TEST_F(DatabaseWithServer, ATrackWithQuotesAndBackslashesInItsTagsArrivesAsExactlyItsRow) {
  PlayFirstTrack("C:\\Music\\Track.mp3\n  artist=O'Brien\n  title=It's \"x\" \\ y \\' \\\\\n",
                 "port=" + port + "\n");
  EXPECT_EQ(WorkerLog(), kStoredLog);
  EXPECT_EQ(NewRowsHex(), std::vector<std::string>{Hex("O'Brien - It's \"x\" \\ y \\' \\\\")});
  ExpectCleanQuit();
}

// The statement is UTF-8 and the connection utf8mb4, set by the plug-in itself: with no
// character-set line, and with the latin1 line that older advice had users write, the table in
// strict mode stores the test title byte for byte.
class TestTitle : public DatabaseWithServer {
 protected:
  void StoredExactlyWith(const std::string& optionLines) {
    ASSERT_EQ(sql.Value("SELECT @@GLOBAL.sql_mode LIKE '%STRICT%'"), "1")
        << "the server is not in strict mode";
    PlayFirstTrack("C:\\Music\\test title.mp3\n  artist=坂本龍一\n  title=Привет 🎵 90°\n",
                   "port=" + port + "\n" + optionLines);
    EXPECT_EQ(WorkerLog(), kStoredLog);
    EXPECT_EQ(NewRowsHex(), std::vector<std::string>{Hex("坂本龍一 - Привет 🎵 90°")});
    ExpectCleanQuit();
  }
};

TEST_F(TestTitle, ArrivesAsExactlyItsUtf8WithoutACharacterSetLine) { StoredExactlyWith(""); }

TEST_F(TestTitle, ArrivesAsExactlyItsUtf8DespiteALatin1Line) {
  StoredExactlyWith("default-character-set=latin1\n");
}

TEST_F(DatabaseWithServer, ARejectedStatementShowsTheServersOwnMessageInABoxOfItsOwn) {
  SetString("MySQL Command", "insert into `tolby`.`no_such_table` (`fulltitle`) values ('%title%')");
  const std::string statement = "insert into `tolby`.`no_such_table` (`fulltitle`) values ('Rejected')";
  ASSERT_FALSE(sql.Run(statement));
  const std::string serverMessage = sql.Error();
  PlayFirstTrack("C:\\Music\\Track.mp3\n  title=Rejected\n", "port=" + port + "\n");

  HWND box = WaitForWindow("#32770", "Query failed", 60000);
  ASSERT_NE(box, nullptr);
  char text[4096] = {};
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  EXPECT_EQ(std::string(text), "MySQL said:\r\n" + serverMessage + "\r\nQuery: \r\n" + statement);

  // The box belongs to another thread of the player's process, and the player's window thread
  // still answers.
  HWND main = FindWindowA("Winamp v1.x", nullptr);
  ASSERT_NE(main, nullptr);
  DWORD boxProcess = 0;
  DWORD mainProcess = 0;
  const DWORD boxThread = GetWindowThreadProcessId(box, &boxProcess);
  const DWORD mainThread = GetWindowThreadProcessId(main, &mainProcess);
  EXPECT_EQ(boxProcess, player->Id());
  EXPECT_EQ(mainProcess, player->Id());
  EXPECT_NE(boxThread, mainThread);
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer), 0);

  // The sender did not wait for the box.
  EXPECT_EQ(WorkerLog(), kStoredLog);
  SendMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(NewRowsHex().empty());
  ExpectCleanQuit();
}

// The server counts the refusal, so the attempt reached it; the user sees nothing, and the
// statement waits for a corrected password.
TEST_F(DatabaseWithServer, AWrongPasswordIsRefusedByTheServerAndOnlyLogged) {
  const auto deniedSoFar = [&] {
    const std::string row = sql.Value("SHOW GLOBAL STATUS LIKE 'Access_denied_errors'");
    return std::atoi(row.c_str() + row.find('\t') + 1);
  };
  const int denied = deniedSoFar();
  SetString("MySQL Password", "not the password");
  PlayFirstTrack("C:\\Music\\Track.mp3\n  title=Refused\n", "port=" + port + "\n");
  EXPECT_EQ(WorkerLog(), kConnectFailedLog);
  EXPECT_NE(RetryLine("Outbox: mysql: 1 entry waits; trying again in ").find("Access denied for user 'winamp'"),
            std::string::npos);
  EXPECT_GT(deniedSoFar(), denied);
  EXPECT_EQ(FindWindowA("#32770", "Query failed"), nullptr);
  EXPECT_TRUE(NewRowsHex().empty());
  ExpectCleanQuit();
}

TEST_F(DatabaseWithServer, AServerThatIsNotRunningIsOnlyLogged) {
  PlayFirstTrack("C:\\Music\\Track.mp3\n  title=Nobody\n", "port=" + FreeLoopbackPort() + "\n");
  EXPECT_EQ(WorkerLog(), kConnectFailedLog);
  EXPECT_FALSE(RetryLine("Outbox: mysql: 1 entry waits; trying again in 2 s or at the next track (").empty());
  EXPECT_TRUE(NewRowsHex().empty());
  ExpectCleanQuit();
}

// The outbox outlives the player: what could not go while the server was away goes at the next
// start, before the track played then.
TEST_F(DatabaseWithServer, TracksPlayedWhileTheServerIsDownArriveInOrderAtTheNextStart) {
  // Without an artist, the default statement's row starts " - ".
  const std::string playlist = "C:\\Music\\1.mp3\n  title=Down 1\nC:\\Music\\2.mp3\n  title=Down 2\n"
                               "C:\\Music\\3.mp3\n  title=Up 3\n";
  Start(playlist, "port=" + FreeLoopbackPort() + "\n", "play 0\nplay 1\n");
  EXPECT_FALSE(RetryLine("Outbox: mysql: 2 entries wait; trying again in ").empty());
  ExpectCleanQuit();
  EXPECT_TRUE(NewRowsHex().empty());

  quit.Reset();
  Start(playlist, "port=" + port + "\n", "play 2\n");
  EXPECT_EQ(NewRowsHex(3), (std::vector<std::string>{Hex(" - Down 1"), Hex(" - Down 2"), Hex(" - Up 3")}));
  ExpectCleanQuit();
}

// A quit during the back-off has nothing to wait for: the statement is in the outbox already.
TEST_F(DatabaseWithServer, QuitDuringTheBackOffReturnsAtOnce) {
  PlayFirstTrack("C:\\Music\\Track.mp3\n  title=Backing off\n", "port=" + FreeLoopbackPort() + "\n");
  // The second wait, so that the quit comes well inside one.
  EXPECT_FALSE(RetryLine("Outbox: mysql: 1 entry waits; trying again in 4 s").empty());
  ExpectCleanQuit();
  EXPECT_TRUE(LinesStartingWith(PluginLog(record), "Plugin.Quit: a statement is still on its way").empty());
}

// A server that takes the connection and never says a word (a hung server, a half-open tunnel):
// the quit does not wait for the client library's time-outs, and the statement is sent at the
// next start.
TEST_F(DatabaseWithServer, QuitIsQuickWhileAStatementIsInFlightToAServerThatNeverAnswers) {
  TTCPBlockSocket silent;
  silent.Bind("127.0.0.1", "0");
  silent.Listen();
  ASSERT_EQ(silent.LastErrorCode(), 0);
  const std::string playlist = "C:\\Music\\Track.mp3\n  title=In flight\n";
  PlayFirstTrack(playlist, "port=" + std::to_string(silent.LocalPort()) + "\n");
  ASSERT_TRUE(silent.CanRead(60000)) << "the sender never connected";
  TTCPBlockSocket accepted;
  accepted.SetSocketHandle(silent.Accept());

  quit.Set();
  EXPECT_EQ(player->Wait(30000), 0) << "the player hangs";
  EXPECT_LT(QuitMs(ReadLines(dir.File("player.out"))), 2000);
  EXPECT_TRUE(WaitForPluginLog(record,
                               "Plugin.Quit: a statement is still on its way to the database server; it stays in "
                               "the outbox and is sent again at the next start",
                               10000));

  quit.Reset();
  Start(playlist, "port=" + port + "\n", "");
  EXPECT_EQ(NewRowsHex(1), std::vector<std::string>{Hex(" - In flight")});
  ExpectCleanQuit();
}

}  // namespace
