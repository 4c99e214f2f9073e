// The database publisher inside the stand-in player with the real client library of the build,
// against the MariaDB server that with_servers.sh started. The library finds the server's port
// where a user's would: under [kivNormal] in a my.ini, here in the folder named by MARIADB_HOME.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

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
    UseOnlyTheDatabase();
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

  // Starts the player, which plays the playlist's first track with the lines of [kivNormal] given,
  // then quits when the test says so.
  void PlayFirstTrack(const std::string& playlist, const std::string& optionLines) {
    WriteText(dir.File("my.ini"), "[kivNormal]\n" + optionLines);
    WriteText(dir.File("playlist.txt"), playlist);
    WriteText(dir.File("script.txt"),
              "play 0\nwaitevent " + quit.Name() + " 120000\nquit\nwaitunload 10000\n");
    std::ostringstream command;
    command << '"' << BinDir() << "\\player.exe\" --plugin \"" << BinDir()
            << "\\gen_skorrel.dll\" --playlist \"" << dir.File("playlist.txt") << "\" --script \""
            << dir.File("script.txt") << "\" --out \"" << dir.File("player.out") << '"';
    player = std::make_unique<ChildProcess>(command.str(), dir.Path(),
                                            std::vector<std::string>{"MARIADB_HOME=" + dir.Path()});
    ASSERT_TRUE(player->Started());
  }

  // The worker's log lines, once it has finished.
  std::vector<std::string> WorkerLog() {
    EXPECT_TRUE(WaitForPluginLog(record, "TThreadMySQLUpdater.Execute: finished"))
        << "the worker never finished";
    return LinesStartingWith(PluginLog(record), "TThreadMySQLUpdater.Execute");
  }

  // The rows this test added, hex-encoded so that every byte compares exactly.
  std::vector<std::string> NewRowsHex() {
    std::vector<std::string> rows;
    EXPECT_TRUE(sql.Run(
        "SELECT HEX(fulltitle) FROM tolby.winamp_played WHERE id > " + lastId + " ORDER BY id", &rows))
        << sql.Error();
    return rows;
  }

  // The player quits and unloads the plug-in, which leaves nothing of the library running.
  void ExpectCleanQuit() {
    quit.Set();
    EXPECT_EQ(player->Wait(30000), 0) << "the player hangs";
    EXPECT_TRUE(Contains(ReadLines(dir.File("player.out")), "module unmapped"));
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

TEST_F(DatabaseWithServer, ARejectedStatementShowsTheServersOwnMessageInABoxOnTheWorker) {
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

  // Closed, the box lets the worker finish.
  SendMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(WorkerLog(), kStoredLog);
  EXPECT_TRUE(NewRowsHex().empty());
  ExpectCleanQuit();
}

// The server counts the refusal, so the attempt reached it; the user sees nothing.
TEST_F(DatabaseWithServer, AWrongPasswordIsRefusedByTheServerAndOnlyLogged) {
  const auto deniedSoFar = [&] {
    const std::string row = sql.Value("SHOW GLOBAL STATUS LIKE 'Access_denied_errors'");
    return std::atoi(row.c_str() + row.find('\t') + 1);
  };
  const int denied = deniedSoFar();
  SetString("MySQL Password", "not the password");
  PlayFirstTrack("C:\\Music\\Track.mp3\n  title=Refused\n", "port=" + port + "\n");
  EXPECT_EQ(WorkerLog(), kConnectFailedLog);
  EXPECT_EQ(deniedSoFar(), denied + 1);
  EXPECT_TRUE(NewRowsHex().empty());
  ExpectCleanQuit();
}

TEST_F(DatabaseWithServer, AServerThatIsNotRunningIsOnlyLogged) {
  PlayFirstTrack("C:\\Music\\Track.mp3\n  title=Nobody\n", "port=" + FreeLoopbackPort() + "\n");
  EXPECT_EQ(WorkerLog(), kConnectFailedLog);
  EXPECT_TRUE(NewRowsHex().empty());
  ExpectCleanQuit();
}

}  // namespace
