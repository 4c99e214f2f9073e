// The SSH tunnel inside the stand-in player under Wine: the plug-in's listener, its relays and
// libssh2.dll beside the plug-in, against sshd and MariaDB running on the host. with_servers.sh
// starts both servers and names them in the environment.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "full_accept_queue.h"
#include "runtime/handles_win32.h"
#include "tunnel/blcksock.h"
#include "tunnel/cipher_order.h"
#include "wine/servers/server_sql.h"
#include "wine/wine_support.h"

namespace {

using namespace wine;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

struct Servers {
  std::string sshPort = Environment("SKORREL_SSHD_PORT");
  std::string sshUser = Environment("SKORREL_SSHD_USER");
  std::string sshPassword = Environment("SKORREL_SSHD_PASSWORD");
  std::string sshHostKey = Environment("SKORREL_SSHD_HOSTKEY");
  std::string sshKeys = WindowsPath(Environment("SKORREL_SSHD_KEYS"));
  std::string sshLog = WindowsPath(Environment("SKORREL_SSHD_LOG"));
  // A second sshd with only an Ed25519 host key.
  std::string ed25519Port = Environment("SKORREL_SSHD_ED25519_PORT");
  std::string ed25519HostKey = Environment("SKORREL_SSHD_ED25519_HOSTKEY");
  std::string ed25519Log = WindowsPath(Environment("SKORREL_SSHD_ED25519_LOG"));
  std::string mariadbPort = Environment("SKORREL_MARIADB_PORT");
  bool Named() const { return !sshPort.empty() && !sshUser.empty() && !mariadbPort.empty(); }
};

// Reads until the far end closes the connection; false if it is still open after timeoutMs.
bool SeesClose(TTCPBlockSocket& socket, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  char buffer[4096];
  for (DWORD spent = 0; spent < timeoutMs; spent = GetTickCount() - start) {
    if (!socket.CanRead(static_cast<std::int32_t>(timeoutMs - spent))) return false;
    if (socket.RecvBytes(buffer, sizeof buffer) <= 0) return true;
  }
  return false;
}

class TunnelInPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(servers.Named())
        << "run through tests/wine/servers/with_servers.sh, which starts the servers";
    DeleteSettings();
    // Nothing of this run may reach another destination.
    SetDword("mIRC Active", 0);
    SetDword("MSN Active", 0);
    SetDword("MySQL Active", 0);
    SetDword("SSH Active", 1);
    SetString("SSH Server", "127.0.0.1:" + servers.sshPort);
    SetString("SSH UserName", servers.sshUser);
    SetString("SSH Password", servers.sshPassword);
    SetDword("MySQL SSH", 1);
    SetString("MySQL Server", "127.0.0.1:" + servers.mariadbPort);
    SetString("CSDebug", "viewer.example");

    dispatcher =
        std::make_unique<ChildProcess>("\"" + BinDir() + "\\dispatcher_standin.exe\" \"" + record + "\"");
    ASSERT_TRUE(WaitForWindow("TFrmDispatcher", "CodeSite Dispatcher", 10000));
    // The player's folder (bin) is on the search path, so the plug-in gets a folder of its own.
    ASSERT_TRUE(CreateDirectoryA(plugins.c_str(), nullptr));
    for (const char* file : {"\\gen_skorrel.dll", "\\skorrel_sqlite3.dll"})
      ASSERT_TRUE(CopyFileA((BinDir() + file).c_str(), (plugins + file).c_str(), FALSE)) << file;
    const std::string unique = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    quitName = "skorrel-tunnel-quit-" + unique;
    exitName = "skorrel-tunnel-exit-" + unique;
    playName = "skorrel-tunnel-play-" + unique;
    quit.reset(CreateEventA(nullptr, TRUE, FALSE, quitName.c_str()));
    exit.reset(CreateEventA(nullptr, TRUE, FALSE, exitName.c_str()));
    play.reset(CreateEventA(nullptr, TRUE, FALSE, playName.c_str()));
  }

  void TearDown() override {
    player.reset();
    DeleteSettings();
  }

  void PutLibSSH2BesidePlugin() {
    const std::string built = WindowsPath(SKORREL_WINDOWS_LIBS_DIR) + "\\libssh2.dll";
    ASSERT_TRUE(CopyFileA(built.c_str(), (plugins + "\\libssh2.dll").c_str(), FALSE)) << "no " << built;
  }

  // The database on, through the tunnel to MariaDB: the client library finds the server's port in
  // the option file, where it is the listener's, so a row can reach MariaDB through the tunnel only.
  void UseTheDatabaseThroughTheTunnel() {
    SetDword("MySQL Active", 1);
    SetString("MySQL UserName", "winamp");
    SetString("MySQL Password", "pw");
    UseOutboxIn(dir);
    WriteText(dir.File("my.ini"), "[kivNormal]\nport=" + listenPort + "\n");
    // The player's folder is shared: the library goes into its working folder, also searched.
    ASSERT_TRUE(CopyFileA(BuiltClientLibrary().c_str(), dir.File("libmysql.dll").c_str(), FALSE));
  }

  // Starts the player, which runs plays (if the playlist has an entry) when the test says so,
  // quits when the test says so, and exits only when the test lets it: whatever the relays do at
  // quit, the process does not end them.
  void StartPlayer(const std::string& playlist, std::vector<std::string> environment = {},
                   const std::string& plays = "play 0\n") {
    WriteText(dir.File("playlist.txt"), playlist);
    // A test may run the player more than once.
    ResetEvent(quit.get());
    ResetEvent(exit.get());
    ResetEvent(play.get());
    const std::string play = playlist.empty() ? "" : "waitevent " + playName + " 60000\n" + plays;
    WriteText(dir.File("script.txt"), play + "waitevent " + quitName + " 120000\nquit\nwaitunload 10000\n" +
                                          "waitevent " + exitName + " 60000\n");
    std::ostringstream command;
    command << '"' << BinDir() << "\\player.exe\" --plugin \"" << plugins
            << "\\gen_skorrel.dll\" --playlist \"" << dir.File("playlist.txt") << "\" --script \""
            << dir.File("script.txt") << "\" --out \"" << dir.File("player.out") << '"';
    environment.push_back("SKORREL_TEST_TUNNEL_PORT=" + listenPort);
    player = std::make_unique<ChildProcess>(command.str(), dir.Path(), environment);
    ASSERT_TRUE(player->Started());
  }

  void Quit() { SetEvent(quit.get()); }

  // Lets the player exit and expects that the quit returned and left nothing of the plug-in
  // running: a relay thread still alive would keep the module mapped.
  void ExpectUnloaded() {
    SetEvent(exit.get());
    EXPECT_EQ(player->Wait(20000), 0) << "the player hangs";
    const std::vector<std::string> out = ReadLines(dir.File("player.out"));
    EXPECT_TRUE(Contains(out, "unloaded"));
    EXPECT_TRUE(Contains(out, "module unmapped"));
  }

  void ExpectCleanQuit() {
    Quit();
    ExpectUnloaded();
  }

  // A relay to sshd itself, whose greeting shows that the session and its channel stand.
  bool RelayReachesSshd() {
    auto client = ConnectToListener();
    if (!client->CanRead(30000)) return false;
    return client->RecvAvailable(1000).substr(0, 8) == "SSH-2.0-";
  }

  // sshd's log from the given length on.
  std::string SshdLogFrom(std::size_t from) const { return LogFrom(servers.sshLog, from); }
  static std::string LogFrom(const std::string& log, std::size_t from) {
    std::string text;
    for (const std::string& line : ReadLines(log)) text += line + "\n";
    return from < text.size() ? text.substr(from) : "";
  }

  // The first connection to the sshd on port pins its key ("TYPE SHA256:..."); one that meets
  // another key of that type is refused before anything of the user's is sent; Forget pins again.
  void PinsTheFirstKeyAndRefusesAnother(const std::string& port, const std::string& key,
                                        const std::string& log) {
    PutLibSSH2BesidePlugin();
    SetString("SSH Server", "127.0.0.1:" + port);
    SetString("MySQL Server", "127.0.0.1:" + port);
    StartPlayer("");
    ASSERT_TRUE(RelayReachesSshd());
    EXPECT_EQ(ReadValue("SSH Host Key").data, key + '\0');
    EXPECT_TRUE(Contains(Logged(), "TSSLLibSSH2.Connect - pinned the SSH server's host key " + key +
                                       ": later connections must offer the same key"));

    // What a server answering with another key of the same type meets: the pin differs.
    const std::string other = key.substr(0, key.find(' ')) + " SHA256:" + std::string(43, 'A');
    SetString("SSH Host Key", other);
    const std::size_t logged = LogFrom(log, 0).size();
    EXPECT_FALSE(RelayReachesSshd());
    EXPECT_TRUE(WaitForLog(
        "TSSLLibSSH2.Connect - refused: the SSH server offered the host key " + key + ", but " + other +
        " is pinned, so nothing was sent. Someone may be listening in between; if the server's "
        "key really changed (compare ssh-keygen -l on the server), press Forget on the SSH tab "
        "and save"));
    EXPECT_TRUE(WaitForLog("TThreadSSHProxyClient.Execute - finished"));
    const std::string since = LogFrom(log, logged);
    for (const char* attempt : {"Accepted ", "Failed ", "Postponed "})
      EXPECT_EQ(since.find(attempt), std::string::npos) << since;
    EXPECT_EQ(ReadValue("SSH Host Key").data, other + '\0');

    SetString("SSH Host Key", "");
    EXPECT_TRUE(RelayReachesSshd());
    EXPECT_EQ(ReadValue("SSH Host Key").data, key + '\0');
    ExpectCleanQuit();
  }

  // The plug-in's log lines so far, without their "[gen_skorrel] " prefix.
  std::vector<std::string> Logged() const { return PluginLog(record); }

  // Waits until count log lines starting with text have been recorded.
  bool WaitForLog(const std::string& text, DWORD timeoutMs = 60000, std::size_t count = 1) const {
    return WaitForPluginLog(record, text, timeoutMs, count);
  }

  // A client of the plug-in's listener, as the database client library would be.
  std::unique_ptr<TTCPBlockSocket> ConnectToListener() {
    EXPECT_TRUE(WaitForLog("TThreadSSHProxyListener.Execute - listening"));
    auto client = std::make_unique<TTCPBlockSocket>();
    client->Connect("127.0.0.1", listenPort);
    EXPECT_EQ(client->LastErrorCode(), 0) << "the listener does not accept on 127.0.0.1:" << listenPort;
    return client;
  }

  Servers servers;
  TempDir dir;
  const std::string record = dir.File("log.txt");
  const std::string plugins = dir.File("Plugins");
  const std::string listenPort = FreeLoopbackPort();
  std::unique_ptr<ChildProcess> dispatcher;
  std::string quitName, exitName, playName;
  unique_kernel_handle quit, exit, play;
  std::unique_ptr<ChildProcess> player;
};

TEST_F(TunnelInPlayer, APublishedTrackArrivesAsARowThroughThePluginsOwnTunnel) {
  PutLibSSH2BesidePlugin();
  UseTheDatabaseThroughTheTunnel();
  const std::string title =
      "Row " + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  StartPlayer("C:\\Music\\Tunnel.mp3\n  artist=Tunnel\n  title=" + title + "\n",
              {"MARIADB_HOME=" + dir.Path()});
  // Played at once: Init returns only when the listener listens, or this row would be refused.
  SetEvent(play.get());

  ASSERT_TRUE(WaitForLog("TThreadMySQLUpdater.Execute: finished"));
  ServerSql sql(servers.mariadbPort);
  ASSERT_TRUE(sql.Connected()) << sql.Error();
  EXPECT_EQ(sql.Value("SELECT COUNT(*) FROM tolby.winamp_played WHERE fulltitle = 'Tunnel - " + title + "'"),
            "1")
      << sql.Error();

  const std::vector<std::string> logged = Logged();
  EXPECT_TRUE(Contains(logged, "TThreadSSHProxyListener.Execute - got connection, starting client..."));
  EXPECT_EQ(LinesStartingWith(logged, "TSSLLibSSH2.Connect - host key " + servers.sshHostKey + " (").size(),
            1u);
  // On AES-NI the session runs on it.
  const std::vector<std::string> cipher = LinesStartingWith(logged, "TSSLLibSSH2.Connect - cipher ");
  ASSERT_EQ(cipher.size(), 1u);
  EXPECT_EQ(cipher[0],
            std::string("TSSLLibSSH2.Connect - cipher ") +
                (ProcessorHasAesGcm() ? "aes128-gcm@openssh.com" : "chacha20-poly1305@openssh.com"));
  // The client library closed its connection, and with it the relay ended.
  EXPECT_TRUE(WaitForLog("TThreadSSHProxyClient.Execute - finished"));
  ExpectCleanQuit();
}

// The sender keeps its connection, and with it the relay and its SSH session, while tracks follow
// each other: a burst of tracks logs in once (twice should the idle time pass in between).
TEST_F(TunnelInPlayer, FiftyTracksInARowMakeAtMostTwoSSHLoginsAndEveryRowArrives) {
  PutLibSSH2BesidePlugin();
  UseTheDatabaseThroughTheTunnel();
  const std::string run = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  std::string playlist, plays;
  std::vector<std::string> expected;
  for (int i = 0; i < 50; ++i) {
    const std::string title = "Burst " + run + " " + std::to_string(i);
    playlist += "C:\\Music\\" + std::to_string(i) + ".mp3\n  title=" + title + "\n";
    // Without an artist, the default statement's row starts " - ".
    expected.push_back(" - " + title);
    plays += "play " + std::to_string(i) + "\n";
  }
  const std::size_t logged = SshdLogFrom(0).size();
  StartPlayer(playlist, {"MARIADB_HOME=" + dir.Path()}, plays);
  SetEvent(play.get());

  ServerSql sql(servers.mariadbPort);
  ASSERT_TRUE(sql.Connected()) << sql.Error();
  std::vector<std::string> rows;
  const DWORD start = GetTickCount();
  // The server is another process: there is nothing to wait on but its answer.
  while (GetTickCount() - start < 90000) {
    rows.clear();
    ASSERT_TRUE(sql.Run(
        "SELECT fulltitle FROM tolby.winamp_played WHERE fulltitle LIKE ' - Burst " + run + " %' ORDER BY id",
        &rows))
        << sql.Error();
    if (rows.size() >= expected.size()) break;
    Sleep(100);
  }
  EXPECT_EQ(rows, expected);
  const std::string since = SshdLogFrom(logged);
  // "Accepted password for USER from ...", one a login; sshd's "Accepted key ..." is not one.
  std::size_t logins = 0;
  std::istringstream lines(since);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("Accepted ", 0) == 0 &&
        line.find(" for " + servers.sshUser + " from ") != std::string::npos)
      ++logins;
  EXPECT_GE(logins, 1u) << since;
  EXPECT_LE(logins, 2u) << since;
  ExpectCleanQuit();
}

TEST_F(TunnelInPlayer, AWrongPasswordEndsTheRelayAndClosesTheLocalConnection) {
  PutLibSSH2BesidePlugin();
  SetString("SSH Password", servers.sshPassword + "x");
  StartPlayer("");

  auto client = ConnectToListener();
  EXPECT_TRUE(SeesClose(*client, 30000));
  EXPECT_TRUE(WaitForLog("TThreadSSHProxyClient.Execute - finished"));
  ExpectCleanQuit();
}

TEST_F(TunnelInPlayer, QuitEndsARunningRelayAndClosesItsConnection) {
  PutLibSSH2BesidePlugin();
  // A far end that speaks first: sshd's own greeting shows the relay is up.
  SetString("MySQL Server", "127.0.0.1:" + servers.sshPort);
  StartPlayer("");

  auto client = ConnectToListener();
  ASSERT_TRUE(client->CanRead(30000));
  EXPECT_EQ(client->RecvAvailable(1000).substr(0, 8), "SSH-2.0-");

  Quit();
  EXPECT_TRUE(SeesClose(*client, 10000)) << "the quit left the relay running";
  EXPECT_TRUE(WaitForLog("TThreadSSHProxyClient.Execute - finished", 10000));
  ExpectUnloaded();
}

TEST_F(TunnelInPlayer, WithoutLibSSH2TheListenerAcceptsAndTheRelayGivesUpBeforeSpeakingSSH) {
  // The SSH server is the test itself: with libssh2 the relay would send its greeting first.
  TTCPBlockSocket fakeServer;
  fakeServer.Bind("127.0.0.1", "0");
  fakeServer.Listen();
  ASSERT_EQ(fakeServer.LastErrorCode(), 0);
  SetString("SSH Server", "127.0.0.1:" + std::to_string(fakeServer.LocalPort()));
  StartPlayer("");

  auto client = ConnectToListener();
  ASSERT_TRUE(fakeServer.CanRead(30000)) << "the relay never connected to the SSH server";
  TTCPBlockSocket relay;
  relay.SetSocketHandle(fakeServer.Accept());
  ASSERT_TRUE(relay.CanRead(30000));
  EXPECT_EQ(relay.RecvAvailable(1000), "") << "something spoke SSH without libssh2.dll";
  EXPECT_TRUE(SeesClose(*client, 30000));
  EXPECT_TRUE(WaitForLog("TThreadSSHProxyClient.Execute - finished"));
  const std::vector<std::string> ssh = LinesStartingWith(Logged(), "TSSLLibSSH2");
  ASSERT_EQ(ssh.size(), 1u);
  // The log doubles the path's backslashes; the places tried are the plug-in's folder, then the
  // search path.
  EXPECT_EQ(ssh[0].rfind("TSSLLibSSH2 - libssh2 could not be loaded (looked for C:", 0), 0u) << ssh[0];
  EXPECT_NE(ssh[0].find("Plugins\\\\libssh2.dll, then libssh2.dll on the system's search path): every tunnel "
                        "connection will be closed"),
            std::string::npos)
      << ssh[0];
  ExpectCleanQuit();
}

// A server that drops connection attempts (a firewall, a VPN that is down) must not freeze the
// player at quit for the system's connect time-out.
TEST_F(TunnelInPlayer, QuitIsQuickWhileARelayWaitsForAServerThatNeverAnswers) {
  PutLibSSH2BesidePlugin();
  FullAcceptQueue unanswered;
  SetString("SSH Server", unanswered.Server());
  StartPlayer("");

  auto client = ConnectToListener();
  ASSERT_TRUE(WaitForLog("TThreadSSHProxyClient.Execute - started", 10000));
  const DWORD start = GetTickCount();
  Quit();
  EXPECT_TRUE(SeesClose(*client, 10000)) << "the quit left the relay connecting";
  std::printf("Quit with a relay stuck in its connect: %lu ms\n", GetTickCount() - start);
  ExpectUnloaded();
}

TEST_F(TunnelInPlayer, TheFirstHostKeyIsPinnedAnotherIsRefusedBeforeLoginAndForgettingPinsAgain) {
  PinsTheFirstKeyAndRefusesAnother(servers.sshPort, "ECDSA " + servers.sshHostKey, servers.sshLog);
}

// What a current OpenSSH server may offer alone.
TEST_F(TunnelInPlayer, AnEd25519HostKeyIsPinnedAndAnotherRefused) {
  PinsTheFirstKeyAndRefusesAnother(servers.ed25519Port, "ED25519 " + servers.ed25519HostKey,
                                   servers.ed25519Log);
}

// Each kind of key file a user may bring, through the shipped libssh2.dll: which log in, and what
// the user reads about those that do not.
TEST_F(TunnelInPlayer, KeyFilesLogInOrSayWhatToDo) {
  PutLibSSH2BesidePlugin();
  SetString("MySQL Server", "127.0.0.1:" + servers.sshPort);
  const struct {
    const char* key;
    const char* passphrase;
    const char* advice;  // null: logs in
  } cases[] = {
      {"ecdsa_pem", "", nullptr},
      {"ecdsa_pem_locked", "key pass", nullptr},
      {"ecdsa_openssh", "", nullptr},
      {"ecdsa_openssh_locked", "key pass", nullptr},
      {"rsa_pem", "", nullptr},
      {"rsa_pem_locked", "key pass", nullptr},
      {"rsa_openssh", "", nullptr},
      {"rsa_openssh_locked", "key pass", nullptr},
      {"ed25519", "", nullptr},
      {"ed25519_locked", "key pass", nullptr},
      {"ecdsa_nopub", "", nullptr},
      {"ed25519_nopub", "key pass", nullptr},
      {"ecdsa_pem_locked", "wrong", "the passphrase in SSH Password is wrong"},
      {"ed25519_locked", "", "the key is encrypted (put its passphrase into SSH Password)"},
      {"ed25519_locked", "wrong", "the passphrase in SSH Password is wrong, or the key is of a type"},
      {"ed25519.pub", "", "it is not a private key file this libssh2 can read"},
      {"no_such_key", "", "the file cannot be opened; check the path in SSH Key File"},
  };
  std::size_t runs = 0;
  for (const auto& c : cases) {
    ++runs;
    const std::size_t before = Logged().size();
    const std::string file = servers.sshKeys + "\\" + c.key;
    SetString("SSH Key File", file);
    SetString("SSH Password", c.passphrase);
    StartPlayer("");
    ASSERT_TRUE(WaitForLog("TThreadSSHProxyListener.Execute - listening", 60000, runs));
    const std::size_t logged = SshdLogFrom(0).size();
    EXPECT_EQ(RelayReachesSshd(), c.advice == nullptr) << c.key;
    if (c.advice) {
      EXPECT_TRUE(WaitForLog("TThreadSSHProxyClient.Execute - finished", 30000, runs)) << c.key;
    }
    const std::vector<std::string> all = Logged();
    const std::vector<std::string> said = LinesStartingWith(
        std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
        "TSSLLibSSH2.Connect - cannot log in with the key file ");
    if (c.advice) {
      ASSERT_EQ(said.size(), 1u) << c.key;
      EXPECT_NE(said[0].find(c.advice), std::string::npos) << said[0];
    } else {
      EXPECT_TRUE(said.empty()) << c.key << ": " << said.front();
    }
    ExpectCleanQuit();
    // The passphrase is never sent as a password.
    EXPECT_EQ(SshdLogFrom(logged).find("password"), std::string::npos) << c.key;
  }
}

}  // namespace
