// The tunnel end to end: a client on the listener's port, a relay per connection through a real
// sshd, and a loopback server or MariaDB at the far end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "database/mysql.h"
#include "database/thread_mysql_updater.h"
#include "diag/globals.h"
#include "full_accept_queue.h"
#include "native/database_doubles.h"
#include "native/log_platform_double.h"
#include "native/mariadb/mariadb_server.h"
#include "native/ssh/loopback_server.h"
#include "native/ssh/sshd_server.h"
#include "native/ssh/tunnel_client.h"
#include "tunnel/blcksock.h"
#include "tunnel/host_port.h"
#include "tunnel/ssh_tunnel.h"
#include "tunnel/thread_sshproxyclient.h"

namespace {

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

class Tunnel : public testing::Test {
 protected:
  static void SetUpTestSuite() { sshd = new SshServer(); }
  static void TearDownTestSuite() {
    delete sshd;
    sshd = nullptr;
  }
  void SetUp() override {
    StartLogClient(log_, "viewer", "C:");
    tunnel_.StartLibrary();
  }
  void TearDown() override {
    tunnel_.Stop();
    StopLogClient();
  }

  unsigned short Listen(const std::string& target, const std::string& password = SshServer::kPassword,
                        const SshServer& server = *sshd) {
    tunnel_.StartListener({"127.0.0.1:" + server.PortText(), SshServer::kUser, password, target});
    const unsigned short port = tunnel_.ListeningPort();
    EXPECT_NE(port, 0);
    return port;
  }
  int LinesSaying(const std::string& text) {
    const auto sent = log_->Sent();
    return static_cast<int>(std::count_if(
        sent.begin(), sent.end(), [&](const SentPacket& p) { return p.Text() == "[gen_skorrel] " + text; }));
  }

  static SshServer* sshd;
  std::shared_ptr<RecordingLogPlatform> log_ = std::make_shared<RecordingLogPlatform>();
  SSHTunnel tunnel_{"0"};
};

SshServer* Tunnel::sshd = nullptr;

TEST(TunnelFields, AHostAndAnOptionalPortAreAcceptedAndEverythingElseRefused) {
  const struct {
    const char* field;
    const char* host;  // null: refused
    std::uint16_t port;
  } cases[] = {
      {"ssh.example.org", "ssh.example.org", 22},
      {"ssh.example.org:2222", "ssh.example.org", 2222},
      {"db:0003306", "db", 3306},
      {"[::1]", "::1", 22},
      {"[::1]:3306", "::1", 3306},
      {"[fe80::1%eth0]:1", "fe80::1%eth0", 1},
      {"", nullptr, 0},
      {":22", nullptr, 0},
      {"host:", nullptr, 0},
      {"host:70000", nullptr, 0},
      {"db:3306x", nullptr, 0},
      {"db:abc", nullptr, 0},
      {"db:-1", nullptr, 0},
      {"db:99999999999999999999", nullptr, 0},
      {"::1", nullptr, 0},
      {"[::1", nullptr, 0},
      {"[::1]x", nullptr, 0},
      {"[::1]:", nullptr, 0},
      {"[db]:22", nullptr, 0},
      {"ssh example.org", nullptr, 0},
      {"db:22 ", nullptr, 0},
      {"db\t", nullptr, 0},
  };
  for (const auto& c : cases) {
    std::string why;
    const std::optional<HostPort> parsed = ParseHostPort(c.field, 22, why);
    if (c.host) {
      EXPECT_EQ(parsed, (HostPort{c.host, c.port})) << c.field;
      EXPECT_EQ(why, "") << c.field;
    } else {
      EXPECT_EQ(parsed, std::nullopt) << c.field;
      EXPECT_NE(why, "") << c.field;
    }
  }
}

TEST_F(Tunnel, SixtyFourMebibytesCrossEachWayIntact) {
  LoopbackServer echo(LoopbackServer::Echo());
  Client client(Listen(echo.Target()));
  const std::string data = RandomBytes(64u << 20, 7);
  std::thread writer([&] { client.Send(data); });
  const std::string back = client.Receive(data.size());
  writer.join();
  EXPECT_EQ(back.size(), data.size());
  EXPECT_TRUE(back == data) << "the bytes came back changed";
}

TEST_F(Tunnel, SmallRequestsGetTheirAnswersWithoutWaitingForMoreTraffic) {
  LoopbackServer echo(LoopbackServer::Echo());
  Client client(Listen(echo.Target()));
  // A reply left inside the SSH layer would only come out with the next packet: the 20 s receive
  // wait then runs out, and the exchange comes back short.
  for (int i = 0; i < 2000; ++i) {
    const std::string request = RandomBytes(100, static_cast<unsigned>(i));
    client.Send(request);
    ASSERT_EQ(client.Receive(100), request) << "exchange " << i;
  }
}

TEST_F(Tunnel, TwentyConnectionsAtOnceEachGetTheirOwnBytesBack) {
  LoopbackServer echo(LoopbackServer::Echo());
  const unsigned short port = Listen(echo.Target());
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 20; ++i) clients.push_back(std::make_unique<Client>(port));
  std::vector<std::string> sent(20), received(20);
  std::vector<std::thread> threads;
  for (int i = 0; i < 20; ++i) {
    threads.emplace_back([&, i] {
      sent[i] = RandomBytes(1u << 20, 100u + static_cast<unsigned>(i));
      std::thread writer([&] { clients[i]->Send(sent[i]); });
      received[i] = clients[i]->Receive(sent[i].size());
      writer.join();
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(received[i] == sent[i]) << "connection " << i;
  EXPECT_EQ(echo.Accepted(), 20);
}

// Each failure ends the relay by itself: the client sees its connection closed before the tunnel
// is stopped, and the relay logs that it finished.
TEST_F(Tunnel, AFailedSessionClosesTheLocalConnectionAndFinishes) {
  LoopbackServer echo(LoopbackServer::Echo());
  std::string closedTarget;
  {
    LoopbackServer gone(LoopbackServer::Echo());
    closedTarget = gone.Target();
  }
  const struct {
    const char* what;
    std::function<unsigned short()> listen;
  } failures[] = {
      {"wrong password", [&] { return Listen(echo.Target(), "not the password"); }},
      {"refused channel", [&] { return Listen(closedTarget); }},
      {"unresolvable host",
       [&] {
         tunnel_.StartListener(
             {"no-such-host.invalid", SshServer::kUser, SshServer::kPassword, echo.Target()});
         return tunnel_.ListeningPort();
       }},
  };
  for (const auto& failure : failures) {
    Client client(failure.listen());
    EXPECT_TRUE(client.ClosedByRelay()) << failure.what;
  }
  tunnel_.Stop();
  EXPECT_EQ(LinesSaying("TThreadSSHProxyClient.Execute - finished"), 3);
  EXPECT_EQ(echo.Accepted(), 0);
}

// A field that names no port the user could mean is refused before anything leaves the machine,
// and the listener goes on serving, since the dialog may mend the field.
TEST_F(Tunnel, ARefusedFieldClosesEachConnectionWithoutReachingOut) {
  LoopbackServer sshServer(LoopbackServer::Silent());
  const std::string server = "127.0.0.1:" + std::to_string(sshServer.Port());
  const struct {
    TunnelSettings settings;
    const char* line;
  } cases[] = {
      {{"127.0.0.1:70000", SshServer::kUser, SshServer::kPassword, "db"},
       "refused: the SSH Server setting \"127.0.0.1:70000\" is not a host or host:port (the port is not "
       "between 1 "
       "and 65535); correct it in the SSH or MySQL tab"},
      {{server, SshServer::kUser, SshServer::kPassword, "db:3306x"},
       "refused: the MySQL Server setting \"db:3306x\" is not a host or host:port (the port is not a "
       "number); "
       "correct it in the SSH or MySQL tab"},
      {{server, SshServer::kUser, SshServer::kPassword, ""},
       "refused: the MySQL Server setting \"\" is not a host or host:port (it is empty); correct it in the "
       "SSH or "
       "MySQL tab"},
  };
  for (const auto& c : cases) {
    tunnel_.StartListener(c.settings);
    const unsigned short port = tunnel_.ListeningPort();
    for (int i = 0; i < 2; ++i) {
      Client client(port);
      EXPECT_TRUE(client.ClosedByRelay()) << c.line;
    }
    tunnel_.StopListener();
    EXPECT_EQ(LinesSaying("TThreadSSHProxyClient.Execute - " + std::string(c.line)), 2);
  }
  EXPECT_EQ(sshServer.Accepted(), 0);
}

TEST_F(Tunnel, AnSshdKilledMidStreamEndsTheRelay) {
  SshServer doomed;
  LoopbackServer echo(LoopbackServer::Echo());
  Client client(Listen(echo.Target(), SshServer::kPassword, doomed));
  client.Send("before");
  ASSERT_EQ(client.Receive(6), "before");
  doomed.Kill();
  EXPECT_TRUE(client.ClosedByRelay());
  tunnel_.Stop();
  EXPECT_EQ(LinesSaying("TThreadSSHProxyClient.Execute - finished"), 1);
}

TEST_F(Tunnel, StoppingEndsEveryRelayBeforeItReturns) {
  LoopbackServer echo(LoopbackServer::Echo());
  const unsigned short port = Listen(echo.Target());
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<Client>(port));
    clients.back()->Send("hello");
    ASSERT_EQ(clients.back()->Receive(5), "hello");
  }
  EXPECT_EQ(tunnel_.Relays().Count(), 3u);
  tunnel_.Stop();
  EXPECT_EQ(tunnel_.Relays().Count(), 0u);
  EXPECT_EQ(LinesSaying("TThreadSSHProxyClient.Execute - finished"), 3);
  for (auto& client : clients) EXPECT_TRUE(client->ClosedByRelay());
}

// libssh2 and the socket library are the process's: a second tunnel that stops (the benchmark
// runs two) must not end them under the first one's relays.
TEST_F(Tunnel, AnotherTunnelStoppingLeavesThisOnesRelaysWorking) {
  LoopbackServer echo(LoopbackServer::Echo());
  const unsigned short port = Listen(echo.Target());
  {
    SSHTunnel other("0");
    other.StartLibrary();
  }
  Client client(port);
  client.Send("still");
  EXPECT_EQ(client.Receive(5), "still");
}

TEST_F(Tunnel, AStoppedListenerFreesItsPortAndLeavesRelaysRunning) {
  LoopbackServer echo(LoopbackServer::Echo());
  const unsigned short port = Listen(echo.Target());
  Client client(port);
  client.Send("one");
  ASSERT_EQ(client.Receive(3), "one");
  tunnel_.StopListener();
  EXPECT_EQ(LinesSaying("TThreadSSHProxyListener.Execute - terminated"), 1);

  TTCPBlockSocket again;
  again.Bind("127.0.0.1", std::to_string(port));
  again.Listen();
  EXPECT_EQ(again.LastErrorCode(), 0) << "the port is still held";
  client.Send("two");
  EXPECT_EQ(client.Receive(3), "two");
}

TEST_F(Tunnel, APublishedTracksRowArrivesThroughTheTunnel) {
  ASSERT_TRUE(LoadMySQLLibrary("libmysql.dll"));
  MySQLLibraryUse plugin;
  MariaDBServer& server = MariaDBServer::Shared();
  server.EmptyTable();
  const unsigned short port = Listen("127.0.0.1:" + std::to_string(server.Port()));
  // The worker connects to the client library's default port, which is the listener's here.
  ClientPortSwap toTheListener(port);
  MySQLTarget target;
  target.Server = "db.behind.the.ssh.server";  // not used: the tunnel picks the database
  target.UserName = MariaDBServer::kUser;
  target.Password = MariaDBServer::kPassword;
  target.Command = dbtest::kDefaultCommand;
  target.ThroughTunnel = true;
  dbtest::Tags tags;
  tags.values[{"a.mp3", "artist"}] = "Tunnel";
  tags.values[{"a.mp3", "title"}] = "It's through";
  dbtest::WorkerRecorder recorder;
  {
    dbtest::TestPublisher publisher(recorder);
    publisher.Publish({"a.mp3"}, target, tags);
    ASSERT_TRUE(recorder.WaitForLine("TThreadMySQLUpdater.Execute: Performing query...", 1));
  }
  EXPECT_THAT(server.StoredTitlesHex(), testing::ElementsAre(Hex("Tunnel - It's through")));
  EXPECT_EQ(LinesSaying("TThreadSSHProxyListener.Execute - got connection, starting client..."), 1);
}

// The promise is two seconds at most; this limit only tells a hang from a slow machine.
bool EndsWithoutHanging(const std::function<void()>& action, const std::string& what) {
  const auto start = std::chrono::steady_clock::now();
  auto ended = std::async(std::launch::async, action);
  const bool done = ended.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  std::cout << what << ": "
            << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                   .count()
            << " ms\n";
  return done;
}

TEST_F(Tunnel, StoppingIsQuickWhateverTheRelaysAreDoing) {
  LoopbackServer echo(LoopbackServer::Echo());
  FullAcceptQueue unanswered;
  LoopbackServer silent(LoopbackServer::Silent());
  const struct {
    const char* what;
    std::string sshServer;
  } cases[] = {
      {"stuck in its connect", unanswered.Server()},
      {"in a handshake the server never answers", "127.0.0.1:" + std::to_string(silent.Port())},
  };
  for (const auto& c : cases) {
    tunnel_.StartLibrary();
    tunnel_.StartListener({c.sshServer, SshServer::kUser, SshServer::kPassword, echo.Target()});
    Client client(tunnel_.ListeningPort());
    ASSERT_TRUE(EndsWithoutHanging([&] { tunnel_.Stop(); }, std::string("Stop with a relay ") + c.what))
        << c.what;
    EXPECT_TRUE(client.ClosedByRelay()) << c.what;
    EXPECT_EQ(tunnel_.Relays().Count(), 0u) << c.what;
  }
}

TEST_F(Tunnel, ABusyPortIsReportedAndNothingListensElsewhere) {
  TTCPBlockSocket holder;
  holder.Bind("127.0.0.1", "0");
  holder.Listen();
  const std::string port = std::to_string(holder.LocalPort());
  SSHTunnel tunnel(port);
  tunnel.StartListener({"127.0.0.1:" + sshd->PortText(), SshServer::kUser, SshServer::kPassword, "db"});
  EXPECT_EQ(tunnel.ListeningPort(), 0);
  tunnel.Stop();
  EXPECT_EQ(LinesSaying("TThreadSSHProxyListener.Execute - cannot listen on 127.0.0.1:" + port +
                        ": 10048 Address already in use; the tunnel is off until the port is free and the "
                        "settings are saved"),
            1);
  EXPECT_EQ(LinesSaying("TThreadSSHProxyListener.Execute - listening"), 0);
}

// The relay closes the client's connection with a FIN after the server's last words, not with a
// reset that may throw away what the client has not read yet.
TEST_F(Tunnel, TheClientReadsTheServersLastWordsAndAnOrderlyClose) {
  LoopbackServer farewell(LoopbackServer::SayAndClose("Access denied"));
  const unsigned short port = Listen(farewell.Target());
  const unique_socket client(OpenSocket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // Read only once the relay has closed, as a client busy elsewhere would.
  ASSERT_TRUE(tunnel_.Relays().Count() <= 1u);
  std::string received;
  char buffer[64];
  int n = 0;
  SocketWait wait{static_cast<std::uintptr_t>(client.get()), true};
  while (WaitSockets(&wait, 1, 20000) > 0 && (n = RecvSome(client.get(), buffer, sizeof buffer)) > 0)
    received.append(buffer, static_cast<std::size_t>(n));
  EXPECT_EQ(received, "Access denied");
  EXPECT_EQ(n, 0) << "the connection ended with error " << SocketLastError()
                  << " instead of an orderly close";
}

TEST(TunnelLogin, AServerOfferingOnlyKeyboardInteractiveIsAnsweredWithThePassword) {
  SshServer::Options pamOnly;
  pamOnly.keyboardInteractiveOnly = true;
  SshServer pam(pamOnly);
  auto log = std::make_shared<RecordingLogPlatform>();
  StartLogClient(log, "viewer", "C:");
  LoopbackServer echo(LoopbackServer::Echo());
  {
    SSHTunnel tunnel("0");
    tunnel.StartLibrary();
    tunnel.StartListener(
        {"127.0.0.1:" + pam.PortText(), SshServer::kUser, SshServer::kPassword, echo.Target()});
    Client client(tunnel.ListeningPort());
    client.Send("through PAM");
    EXPECT_EQ(client.Receive(11), "through PAM") << pam.LogText();
  }
  StopLogClient();
  EXPECT_NE(pam.LogText().find("Accepted keyboard-interactive/pam for " + std::string(SshServer::kUser)),
            std::string::npos)
      << pam.LogText();
}

}  // namespace
