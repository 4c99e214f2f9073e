// Passwords at rest against the host's sshd and MariaDB: the plain ones an older version saved log
// in, the save at quit leaves only their protected form, and the next start logs in with that.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "wine/servers/server_sql.h"
#include "wine/wine_support.h"

namespace {

using namespace wine;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class SecretsWithServers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(sshPort.empty())
        << "run through tests/wine/servers/with_servers.sh, which starts the servers";
    // As an older version left them: both passwords plain.
    UseOnlyTheDatabase(dir);
    SetDword("MySQL SSH", 1);
    SetString("MySQL Server", "127.0.0.1:" + Environment("SKORREL_MARIADB_PORT"));
    SetDword("SSH Active", 1);
    SetString("SSH Server", "127.0.0.1:" + sshPort);
    SetString("SSH UserName", Environment("SKORREL_SSHD_USER"));
    SetString("SSH Password", Environment("SKORREL_SSHD_PASSWORD"));
    SetString("CSDebug", "viewer.example");
    // The client library takes the listener's port from here, so a row arrives through the tunnel only.
    WriteText(dir.File("my.ini"), "[kivNormal]\nport=" + listenPort + "\n");
    // The player's working folder, which Windows searches for both libraries.
    for (const std::string& built :
         {BuiltClientLibrary(), WindowsPath(SKORREL_WINDOWS_LIBS_DIR) + "\\libssh2.dll"})
      ASSERT_TRUE(CopyFileA(built.c_str(), (dir.Path() + built.substr(built.rfind('\\'))).c_str(), FALSE))
          << built;
    dispatcher =
        std::make_unique<ChildProcess>("\"" + BinDir() + "\\dispatcher_standin.exe\" \"" + record + "\"");
    ASSERT_TRUE(WaitForWindow("TFrmDispatcher", "CodeSite Dispatcher", 10000));
  }
  void TearDown() override {
    player.reset();
    DeleteSettings();
  }

  // Starts the player on one track and says whether its row arrived; the player quits at go.
  bool RowArrives(const std::string& title) {
    go.Reset();
    player = StartPlayer(dir, "C:\\Music\\Secret.mp3\n  artist=Secret\n  title=" + title + "\n",
                         "play 0\nwaitevent " + go.Name() + " 120000\nquit\nwaitunload 10000\n",
                         {"SKORREL_TEST_TUNNEL_PORT=" + listenPort, "MARIADB_HOME=" + dir.Path()});
    if (!WaitForPluginLog(record, kTried, 60000, tries + 1)) return false;
    tries = LinesStartingWith(PluginLog(record), kTried).size();
    ServerSql sql(Environment("SKORREL_MARIADB_PORT"));
    return sql.Value("SELECT COUNT(*) FROM tolby.winamp_played WHERE fulltitle = 'Secret - " + title + "'") ==
           "1";
  }

  const std::string sshPort = Environment("SKORREL_SSHD_PORT");
  TempDir dir;
  const std::string record = dir.File("log.txt");
  const std::string listenPort = FreeLoopbackPort();
  std::unique_ptr<ChildProcess> dispatcher;
  std::unique_ptr<ChildProcess> player;
  Go go;
  // The sender's last line of each try, and how many the runs before logged.
  static constexpr const char* kTried = "TThreadMySQLUpdater.Execute: finished";
  std::size_t tries = 0;
};

TEST_F(SecretsWithServers, PlainPasswordsLogInAreProtectedAtQuitAndLogInAgainAfterARestart) {
  const std::string unique = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  EXPECT_TRUE(RowArrives("plain " + unique));
  go.Set();
  ASSERT_EQ(player->Wait(60000), 0);
  const StoredValue ssh = ReadValue("SSH Password"), mysql = ReadValue("MySQL Password");
  EXPECT_EQ(ssh.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(ssh.data.find(Environment("SKORREL_SSHD_PASSWORD")), std::string::npos);
  EXPECT_EQ(mysql.type, static_cast<DWORD>(REG_BINARY));

  EXPECT_TRUE(RowArrives("protected " + unique));
  go.Set();
  EXPECT_EQ(player->Wait(60000), 0);
}

}  // namespace
