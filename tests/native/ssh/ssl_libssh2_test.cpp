// The SSH plug against a real OpenSSH server: a direct-tcpip channel to a loopback server behind
// it, driven the way the relay drives it, and the ways a session fails.
#include "tunnel/ssl_libssh2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>

#include "diag/globals.h"
#include "native/log_platform_double.h"
#include "native/ssh/loopback_server.h"
#include "native/ssh/sshd_server.h"

namespace {

class SshPlug : public testing::Test {
 protected:
  // libssh2 starts before any thread, as at module start, and ends after the last session.
  static void SetUpTestSuite() {
    ASSERT_TRUE(StartLibSSH2());
    sshd = new SshServer();
  }
  static void TearDownTestSuite() {
    delete sshd;
    sshd = nullptr;
    StopLibSSH2();
  }

  // A socket connected to sshd with its plug started for a channel to target.
  static std::unique_ptr<TTCPBlockSocket> Tunnel(const std::string& target,
                                                 const std::string& password = SshServer::kPassword) {
    auto socket = std::make_unique<TTCPBlockSocket>();
    TCustomSSL& plug = socket->SecurityPlug();
    plug.SSLType = TSSLType::LT_SSHv2;
    plug.Username = SshServer::kUser;
    plug.Password = password;
    socket->Connect("127.0.0.1", sshd->PortText());
    EXPECT_EQ(socket->LastErrorCode(), 0);
    plug.SSHChannelType = "direct-tcpip";
    plug.SSHChannelArg1 = target.substr(0, target.rfind(':'));
    plug.SSHChannelArg2 = target.substr(target.rfind(':') + 1);
    socket->StartSecurity();
    return socket;
  }

  static SshServer* sshd;
};

SshServer* SshPlug::sshd = nullptr;

// Sends data through the channel and collects `expected` bytes back, as the relay does: offer what
// the channel takes, drain it until it would block, and only then wait on the raw socket. A wait
// that runs out means bytes were left inside the plug while the wire was quiet.
std::string Exchange(TTCPBlockSocket& ssh, const std::string& data, std::size_t expected) {
  std::string received;
  std::size_t sent = 0;
  static char buffer[65535];
  for (;;) {
    std::int32_t taken = 0;
    if (sent < data.size()) {
      taken = ssh.SendBytes(data.data() + sent,
                            static_cast<std::int32_t>(std::min<std::size_t>(data.size() - sent, 65535)));
      if (ssh.LastErrorCode() != 0) break;
      sent += static_cast<std::size_t>(taken);
    }
    for (std::int32_t n; (n = ssh.RecvBytes(buffer, sizeof buffer)) > 0;) received.append(buffer, n);
    if (ssh.LastErrorCode() != 0 || (sent == data.size() && received.size() >= expected)) break;
    if (taken > 0) continue;
    SocketWait wait{static_cast<std::uintptr_t>(ssh.SocketHandle())};
    wait.read = true;
    if (WaitSockets(&wait, 1, 10000) <= 0) {
      ADD_FAILURE() << "stalled with " << received.size() << " of " << expected << " bytes back";
      break;
    }
    ssh.SecurityPlug().SocketReadable();
  }
  EXPECT_EQ(ssh.LastErrorCode(), 0) << ssh.SecurityPlug().LastErrorText();
  return received;
}

std::string RandomBytes(std::size_t size) {
  std::mt19937 random(42);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TEST_F(SshPlug, BytesRoundTripThroughTheChannelWithNothingLeftInside) {
  LoopbackServer echo(LoopbackServer::Echo());
  auto ssh = Tunnel(echo.Target());
  ASSERT_EQ(ssh->LastErrorCode(), 0) << ssh->SecurityPlug().LastErrorText();
  EXPECT_EQ(ssh->SecurityPlug().LibraryName(), "ssl_libssh2");
  EXPECT_TRUE(ssh->SecurityPlug().SecurityActive());

  // Small requests each answered before the next: a reply must never wait for more traffic.
  for (int i = 0; i < 200; ++i) {
    const std::string request(100, static_cast<char>('a' + i % 26));
    ASSERT_EQ(Exchange(*ssh, request, request.size()), request) << "request " << i;
  }
  // More than a channel window each way at once.
  const std::string bulk = RandomBytes(24 * 1024 * 1024 + 7);
  EXPECT_TRUE(Exchange(*ssh, bulk, bulk.size()) == bulk);

  ssh->CloseConnection();
  EXPECT_FALSE(ssh->SecurityPlug().SecurityActive());
  EXPECT_EQ(ssh->SecurityPlug().PeerFingerprint(), "");
}

// The relay skips the read that would only say "would block" when this says no, so a no while
// bytes wait inside libssh2 would strand them until the next wake-up.
TEST_F(SshPlug, InputWaitingSaysYesExactlyWhileChannelBytesWaitInsideTheLibrary) {
  LoopbackServer echo(LoopbackServer::Echo());
  auto ssh = Tunnel(echo.Target());
  ASSERT_EQ(ssh->LastErrorCode(), 0) << ssh->SecurityPlug().LastErrorText();
  TCustomSSL& plug = ssh->SecurityPlug();
  EXPECT_FALSE(plug.InputWaiting());

  const std::string request(100, 'q');
  ASSERT_EQ(ssh->SendBytes(request.data(), 100), 100);
  char buffer[200];
  std::int32_t got = 0;
  while (got == 0 && ssh->LastErrorCode() == 0) {
    SocketWait wait{static_cast<std::uintptr_t>(ssh->SocketHandle())};
    wait.read = true;
    ASSERT_GT(WaitSockets(&wait, 1, 10000), 0) << "no reply";
    plug.SocketReadable();
    got = ssh->RecvBytes(buffer, 10);
  }
  ASSERT_EQ(got, 10);
  EXPECT_TRUE(plug.InputWaiting());
  EXPECT_EQ(ssh->RecvBytes(buffer, sizeof buffer), 90);
  EXPECT_FALSE(plug.InputWaiting());
}

TEST_F(SshPlug, TheHostKeyFingerprintIsLoggedAsSshKeygenShowsIt) {
  auto log = std::make_shared<RecordingLogPlatform>();
  StartLogClient(log, "viewer", "C:");
  LoopbackServer echo(LoopbackServer::Echo());
  auto ssh = Tunnel(echo.Target());
  StopLogClient();
  ASSERT_EQ(ssh->LastErrorCode(), 0);

  const std::string fingerprint = sshd->HostKeyFingerprint();
  EXPECT_EQ(ssh->SecurityPlug().PeerFingerprint(), fingerprint);
  std::vector<std::string> lines;
  for (const SentPacket& packet : log->Sent()) lines.push_back(packet.Text());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "[gen_skorrel] TSSLLibSSH2.Connect - host key " + fingerprint + " (ED25519)"),
            lines.end());
}

TEST_F(SshPlug, AWrongPasswordFailsWithLibssh2sStatusAndText) {
  LoopbackServer echo(LoopbackServer::Echo());
  auto ssh = Tunnel(echo.Target(), "not the password");
  EXPECT_EQ(ssh->LastErrorCode(), 10091);
  EXPECT_EQ(ssh->SecurityPlug().LastErrorCode(), -18);  // authentication failed
  EXPECT_FALSE(ssh->SecurityPlug().LastErrorText().empty());
  EXPECT_FALSE(ssh->SecurityPlug().SecurityActive());
  EXPECT_EQ(echo.Accepted(), 0);
}

TEST_F(SshPlug, ARefusedChannelFailsWithLibssh2sStatusAndText) {
  std::string closedTarget;
  {
    LoopbackServer gone(LoopbackServer::Echo());
    closedTarget = gone.Target();
  }
  auto ssh = Tunnel(closedTarget);
  EXPECT_EQ(ssh->LastErrorCode(), 10091);
  EXPECT_EQ(ssh->SecurityPlug().LastErrorCode(), -21);  // channel failure
  EXPECT_FALSE(ssh->SecurityPlug().LastErrorText().empty());
  EXPECT_FALSE(ssh->SecurityPlug().SecurityActive());
}

TEST_F(SshPlug, AChannelClosedAtTheFarEndDeliversItsLastBytesThenFails) {
  LoopbackServer farEnd(LoopbackServer::SayAndClose("last words"));
  auto ssh = Tunnel(farEnd.Target());
  ASSERT_EQ(ssh->LastErrorCode(), 0) << ssh->SecurityPlug().LastErrorText();

  std::string received;
  char buffer[64];
  while (ssh->LastErrorCode() == 0) {
    const std::int32_t n = ssh->RecvBytes(buffer, sizeof buffer);
    if (n > 0) {
      received.append(buffer, n);
    } else if (ssh->LastErrorCode() == 0) {
      SocketWait wait{static_cast<std::uintptr_t>(ssh->SocketHandle())};
      wait.read = true;
      ASSERT_GT(WaitSockets(&wait, 1, 10000), 0) << "the close never arrived";
      ssh->SecurityPlug().SocketReadable();
    }
  }
  EXPECT_EQ(received, "last words");
  EXPECT_EQ(ssh->LastErrorCode(), 10091);
  EXPECT_NE(ssh->SecurityPlug().LastErrorCode(), 0);
  EXPECT_FALSE(ssh->SecurityPlug().LastErrorText().empty());
}

TEST(LibSSH2Module, WithoutTheLibrarySocketsKeepThePlainPlug) {
  StopLibSSH2();
  const LibSSH2Opener real = SetLibSSH2Opener([] { return Library(); });
  EXPECT_FALSE(StartLibSSH2());
  {
    TTCPBlockSocket socket;
    EXPECT_EQ(socket.SecurityPlug().LibraryName(), "ssl_none");
  }
  SetLibSSH2Opener(real);
  ASSERT_TRUE(StartLibSSH2());
  TTCPBlockSocket socket;
  EXPECT_EQ(socket.SecurityPlug().LibraryName(), "ssl_libssh2");
  socket.SecurityPlug().SSLType = TSSLType::LT_SSHv2;
  // No connection yet: the plug refuses without touching the library.
  socket.StartSecurity();
  EXPECT_EQ(socket.LastErrorCode(), 10091);
  StopLibSSH2();
}

}  // namespace
