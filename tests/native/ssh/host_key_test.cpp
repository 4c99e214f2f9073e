// Trust on first use of the SSH server's host key, and key login, against real sshds.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/host_key_store.h"
#include "diag/globals.h"
#include "native/fake_registry.h"
#include "native/log_platform_double.h"
#include "native/mariadb/mariadb_server.h"
#include "native/ssh/loopback_server.h"
#include "native/ssh/sshd_server.h"
#include "native/ssh/tunnel_client.h"
#include "tunnel/libssh2_binding.h"
#include "tunnel/ssh_tunnel.h"

namespace {

namespace fs = std::filesystem;

class TunnelTrust : public testing::Test {
 protected:
  void SetUp() override {
    StartLogClient(log_, "viewer", "C:");
    tunnel_.StartLibrary();
  }
  void TearDown() override {
    tunnel_.Stop();
    StopLogClient();
  }

  unsigned short Listen(const SshServer& server, const std::string& target, const std::string& keyFile = "",
                        const std::string& password = SshServer::kPassword) {
    TunnelSettings settings{"127.0.0.1:" + server.PortText(), SshServer::kUser, password, target};
    settings.sshKeyFile = keyFile;
    settings.hostKeys = store_;
    tunnel_.StartListener(settings);
    return tunnel_.ListeningPort();
  }
  // Whether one byte goes through a new connection and back.
  bool Passes(unsigned short port) {
    Client client(port);
    client.Send("x");
    return client.Receive(1) == "x";
  }
  std::vector<std::string> Lines(const std::string& start) {
    std::vector<std::string> found;
    for (const SentPacket& p : log_->Sent())
      if (p.Text().rfind("[gen_skorrel] " + start, 0) == 0) found.push_back(p.Text().substr(14));
    return found;
  }

  std::shared_ptr<RecordingLogPlatform> log_ = std::make_shared<RecordingLogPlatform>();
  FakeRegistry registry_;
  std::shared_ptr<HostKeyStore> store_ = std::make_shared<HostKeyStore>(registry_);
  SSHTunnel tunnel_{"0"};
  LoopbackServer echo_{LoopbackServer::Echo()};
};

// A switch in front of two sshds that alternates per connection.
LoopbackServer::Handler Alternating(int portA, int portB) {
  auto next = std::make_shared<std::atomic<int>>(0);
  return [=](int fd) {
    const int port = (*next)++ % 2 == 0 ? portA : portB;
    const unique_socket backend(OpenSocket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(backend.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    char buffer[16384];
    for (;;) {
      SocketWait waits[2] = {{static_cast<std::uintptr_t>(fd), true},
                             {static_cast<std::uintptr_t>(backend.get()), true}};
      if (WaitSockets(waits, 2, -1) <= 0) return;
      for (int i = 0; i < 2; ++i) {
        if (!waits[i].readable) continue;
        const int from = i == 0 ? fd : backend.get(), to = i == 0 ? backend.get() : fd;
        const int n = RecvSome(from, buffer, sizeof buffer);
        if (n <= 0 || SendSome(to, buffer, n) != n) return;
      }
    }
  };
}

TEST_F(TunnelTrust, TwentyFirstConnectionsToTwoKeysBehindOneAddressPinOneAndRefuseTheOther) {
  SshServer a, b;
  LoopbackServer front(Alternating(a.Port(), b.Port()));
  TunnelSettings settings{front.Target(), SshServer::kUser, SshServer::kPassword, echo_.Target()};
  settings.hostKeys = store_;
  tunnel_.StartListener(settings);
  const unsigned short port = tunnel_.ListeningPort();
  std::vector<int> passed(20);
  std::vector<std::thread> clients;
  for (int i = 0; i < 20; ++i) clients.emplace_back([&, i] { passed[i] = Passes(port); });
  for (std::thread& t : clients) t.join();

  const std::string pinned = store_->Pinned();
  ASSERT_TRUE(pinned == a.HostKey() || pinned == b.HostKey()) << pinned;
  const std::string other = pinned == a.HostKey() ? b.HostKey() : a.HostKey();
  EXPECT_EQ(Lines("TSSLLibSSH2.Connect - pinned").size(), 1u);
  const int refused = static_cast<int>(
      Lines("TSSLLibSSH2.Connect - refused: the SSH server offered the host key " + other).size());
  EXPECT_EQ(refused, 10);
  EXPECT_EQ(std::count(passed.begin(), passed.end(), 1), 10);
}

const char* NoHash(LIBSSH2_SESSION*, int) { return nullptr; }

TEST_F(TunnelTrust, WithoutAFingerprintNothingIsPinnedAndTheConnectionIsRefused) {
  SshServer server;
  // As a library whose hash failed answers, or one too old to know SHA-256.
  auto& api = const_cast<LibSSH2Entries&>(LibSSH2());
  const auto hash = std::exchange(api.libssh2_hostkey_hash, &NoHash);
  const unsigned short port = Listen(server, echo_.Target());
  const bool passed = Passes(port);
  tunnel_.Stop();
  api.libssh2_hostkey_hash = hash;
  EXPECT_FALSE(passed);
  EXPECT_EQ(store_->Pinned(), "");
  EXPECT_EQ(Lines("TSSLLibSSH2.Connect - refused: the host key could not be checked").size(), 1u);
}

// Keys made by ssh-keygen in a folder of the test's own.
class Keys {
 public:
  Keys() : dir_(fs::temp_directory_path() / ("skorrel-keys-" + std::to_string(getpid()))) {
    fs::create_directories(dir_);
  }
  ~Keys() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  // A PEM key, which every libssh2 build reads.
  std::string Make(const std::string& name, const std::string& passphrase) {
    const std::string path = (dir_ / name).string();
    EXPECT_EQ(
        RunProgram({"/usr/bin/ssh-keygen", "-q", "-t", "ecdsa", "-m", "PEM", "-N", passphrase, "-f", path})
            .status,
        0);
    return path;
  }
  static std::string Public(const std::string& key) { return ReadFile(key + ".pub"); }

 private:
  fs::path dir_;
};

TEST_F(TunnelTrust, AKeyFileLogsInWithItsPassphraseAndNeverFallsBackToThePassword) {
  Keys keys;
  const std::string plain = keys.Make("plain", "");
  const std::string locked = keys.Make("locked", "key pass");
  SshServer::Options keyOnly;
  keyOnly.authorizedKeys = Keys::Public(plain) + Keys::Public(locked);
  SshServer sshd(keyOnly);

  EXPECT_TRUE(Passes(Listen(sshd, echo_.Target(), plain, "")));
  EXPECT_TRUE(Passes(Listen(sshd, echo_.Target(), locked, "key pass")));
  EXPECT_TRUE(Lines("TSSLLibSSH2.Connect - cannot log in").empty());

  // A wrong passphrase is named as such, and the relay ends without trying anything else.
  EXPECT_FALSE(Passes(Listen(sshd, echo_.Target(), locked, "wrong")));
  const std::vector<std::string> said = Lines("TSSLLibSSH2.Connect - cannot log in with the key file ");
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].rfind("TSSLLibSSH2.Connect - cannot log in with the key file " + locked +
                              ": the passphrase in SSH Password is wrong (libssh2: ",
                          0),
            0u)
      << said[0];
  // The passphrase never reached the server as a password.
  EXPECT_EQ(sshd.LogText().find("password"), std::string::npos) << sshd.LogText();
}

}  // namespace
