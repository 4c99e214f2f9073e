// The socket under an SSH session as libssh2 reaches it: fewer, larger socket calls while the
// session does not block, and every call straight to the socket while it does.
#include "tunnel/ssh_wire.h"

#include <gtest/gtest.h>

#include <string>

#include "tunnel/blcksock.h"

namespace {

// Both ends of a loopback connection, neither of which blocks: the wire's and the peer's.
class SshWireTest : public testing::Test {
 protected:
  void SetUp() override {
    listener_.Bind("127.0.0.1", "0");
    listener_.Listen();
    peer_.Connect("127.0.0.1", std::to_string(listener_.LocalPort()));
    ours_.SetSocketHandle(listener_.Accept());
    ASSERT_EQ(SetBlocking(ours(), false), 0);
    ASSERT_EQ(SetBlocking(peer(), false), 0);
  }
  socket_t ours() const { return ours_.SocketHandle(); }
  socket_t peer() const { return peer_.SocketHandle(); }
  // Returns once the bytes can be read at our end.
  void PeerSends(const std::string& data) {
    ASSERT_EQ(SendSome(peer(), data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
    SocketWait wait{static_cast<std::uintptr_t>(ours()), true};
    ASSERT_GT(WaitSockets(&wait, 1, 10000), 0);
  }
  // What arrives within the time.
  std::string PeerReceives(std::int32_t waitMs = 10000) {
    SocketWait wait{static_cast<std::uintptr_t>(peer()), true};
    if (WaitSockets(&wait, 1, waitMs) <= 0) return "";
    char buffer[4096];
    const int n = RecvSome(peer(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
  }
  std::string Receive(std::size_t length) {
    std::string buffer(length, '\0');
    const std::ptrdiff_t n = wire_.Receive(ours(), buffer.data(), length, 0);
    return n >= 0 ? buffer.substr(0, static_cast<std::size_t>(n)) : "error " + std::to_string(-n);
  }

  SshWire wire_;
  TTCPBlockSocket listener_, peer_, ours_;
};

const std::string kWouldBlock = "error " + std::to_string(EAGAIN);

TEST_F(SshWireTest, WhileBufferingOneReceiveServesManyAndAnEmptySocketIsAskedAgainOnlyAfterAWait) {
  wire_.Buffering(true);
  PeerSends(std::string(1000, 'a'));
  EXPECT_EQ(Receive(300), std::string(300, 'a'));
  EXPECT_TRUE(wire_.HasInput()) << "the rest was received with the first piece";
  EXPECT_EQ(Receive(1000), std::string(700, 'a'));
  EXPECT_FALSE(wire_.HasInput());

  // The first receive came back short, so the socket is known to be empty.
  PeerSends("new");
  EXPECT_EQ(Receive(100), kWouldBlock) << "the socket was asked again before a wait found it readable";
  wire_.Readable();
  EXPECT_EQ(Receive(100), "new");
  EXPECT_EQ(Receive(100), kWouldBlock);
}

TEST_F(SshWireTest, WhileBufferingSendsWaitForTheFlushAndLeaveInOrder) {
  wire_.Buffering(true);
  EXPECT_EQ(wire_.Send(ours(), "abc", 3, 0), 3);
  EXPECT_EQ(wire_.Send(ours(), "def", 3, 0), 3);
  EXPECT_EQ(PeerReceives(0), "");
  EXPECT_EQ(wire_.Flush(ours(), std::chrono::steady_clock::now() + std::chrono::seconds(10)), 0);
  EXPECT_EQ(PeerReceives(), "abcdef");
}

// A blocking libssh2 waits on the socket itself after "would block": a shortcut there would spin.
TEST_F(SshWireTest, ABlockingSessionReachesTheSocketWithEveryCall) {
  PeerSends("ab");
  EXPECT_EQ(Receive(100), "ab");
  EXPECT_EQ(Receive(100), kWouldBlock);
  PeerSends("c");
  EXPECT_EQ(Receive(100), "c");
  EXPECT_EQ(wire_.Send(ours(), "xyz", 3, 0), 3);
  EXPECT_EQ(PeerReceives(), "xyz");
}

}  // namespace
