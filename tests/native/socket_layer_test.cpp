// The blocking socket layer over real loopback sockets: the codes it records, the pending linger
// option, read-ahead, and the plain plug. Built natively and for Windows, so the same Winsock
// numbers are checked on both systems.
#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <signal.h>
#include <sys/time.h>
#endif

#include "tunnel/blcksock.h"

namespace {

// A socket listening on 127.0.0.1 and a port the system picked.
struct Listener {
  TTCPBlockSocket socket;
  std::string port;
  Listener() {
    socket.Bind("127.0.0.1", "0");
    socket.Listen();
    port = std::to_string(socket.LocalPort());
  }
};

// Both ends of one loopback connection.
struct Connection {
  Listener listener;
  TTCPBlockSocket client;
  TTCPBlockSocket server;
  Connection() {
    client.Connect("127.0.0.1", listener.port);
    server.SetSocketHandle(listener.socket.Accept());
  }
};

// Puts the plug class back after a test that chose one.
struct DefaultPlugSwap {
  TSSLClass previous;
  explicit DefaultPlugSwap(TSSLClass plug) : previous(DefaultSSLClass.exchange(plug)) {}
  ~DefaultPlugSwap() { DefaultSSLClass.store(previous); }
};

TEST(GetErrorDesc, NamesListedCodesAndNumbersTheRest) {
  EXPECT_EQ(TBlockSocket::GetErrorDesc(0), "");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10035), "Operation would block");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10054), "Connection reset by peer");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10059), "Too many references:can't splice");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10091), "Network subsystem is unusable");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(11004), "Valid name, no data record of requested type");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(12345), "Other Winsock error (12345)");
  EXPECT_EQ(TBlockSocket::GetErrorDesc(-1), "Other Winsock error (-1)");
}

TEST(TBlockSocket, AnAnyFamilySocketComesIntoBeingAtBindWithItsPendingLinger) {
  TTCPBlockSocket socket;
  socket.MakeSocket();
  socket.SetLingerTime(true, 10);
  socket.Bind("0.0.0.0", "0");
  EXPECT_EQ(socket.SocketHandle(), kInvalidSocket);
  EXPECT_EQ(socket.LastErrorCode(), 0);

  socket.Bind("127.0.0.1", "0");
  ASSERT_EQ(socket.LastErrorCode(), 0);
  ASSERT_NE(socket.SocketHandle(), kInvalidSocket);
  EXPECT_NE(socket.LocalPort(), 0);
  EXPECT_FALSE(socket.UsesIPv6());
  linger value{};
  socklen_type length = sizeof value;
  ASSERT_EQ(
      getsockopt(socket.SocketHandle(), SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_NE(value.l_onoff, 0);
  EXPECT_EQ(value.l_linger, 0);
}

TEST(TBlockSocket, ReadAheadIsHandedOutWithoutTouchingTheSocket) {
  struct WithReadAhead : TTCPBlockSocket {
    explicit WithReadAhead(std::string bytes) { readAhead_ = std::move(bytes); }
  } socket(std::string("ahead\0!", 7));

  EXPECT_EQ(socket.RecvAvailable(0), std::string("ahead\0!", 7));
  EXPECT_EQ(socket.LastErrorCode(), 0);
  EXPECT_TRUE(socket.ReadAhead().empty());
  // There is no socket: the next call does reach for one and fails.
  EXPECT_EQ(socket.RecvAvailable(0), "");
  EXPECT_NE(socket.LastErrorCode(), 0);
}

TEST(TTCPBlockSocket, BytesCrossAndAPeerCloseReadsAs10054) {
  Connection c;
  ASSERT_EQ(c.client.LastErrorCode(), 0);
  ASSERT_EQ(c.server.RemotePort(), c.client.LocalPort());
  c.client.SendByteString("hello");
  std::string got;
  while (got.size() < 5 && c.server.LastErrorCode() == 0) got += c.server.RecvAvailable(5000);
  EXPECT_EQ(got, "hello");

  c.client.CloseConnection();
  EXPECT_EQ(c.client.SocketHandle(), kInvalidSocket);
  char buffer[16];
  EXPECT_EQ(c.server.RecvBytes(buffer, sizeof buffer), 0);
  EXPECT_EQ(c.server.LastErrorCode(), 10054);
  EXPECT_EQ(c.server.LastErrorText(), "Connection reset by peer");
  EXPECT_EQ(c.server.RecvAvailable(5000), "");
  EXPECT_EQ(c.server.LastErrorCode(), 10054);
}

TEST(TTCPBlockSocket, NothingArrivingInTimeGives10060) {
  Connection c;
  EXPECT_FALSE(c.server.CanRead(0));
  EXPECT_EQ(c.server.RecvAvailable(50), "");
  EXPECT_EQ(c.server.LastErrorCode(), 10060);
  EXPECT_EQ(c.server.LastErrorText(), "Connection timed out");
}

TEST(TTCPBlockSocket, StartSecurityWithThePlainPlugGives10091) {
  DefaultPlugSwap plain(&SSLClassOf<TSSLNone>);
  Connection c;
  c.client.StartSecurity();
  EXPECT_EQ(c.client.LastErrorCode(), 10091);
  EXPECT_EQ(c.client.LastErrorText(), "Network subsystem is unusable");
  EXPECT_EQ(c.client.SecurityPlug().LibraryName(), "ssl_none");
  EXPECT_EQ(c.client.SecurityPlug().LastErrorCode(), -1);
  EXPECT_EQ(c.client.SecurityPlug().LastErrorText(), "SLL is not implemented!");
  EXPECT_FALSE(c.client.SecurityPlug().SecurityActive());
}

TEST(TTCPBlockSocket, ARefusedConnectionIsRecordedAndRaisedOnlyWithRaiseExcept) {
  std::string closedPort;
  {
    Listener gone;
    closedPort = gone.port;
  }
  TTCPBlockSocket quiet;
  quiet.Connect("127.0.0.1", closedPort);
  EXPECT_EQ(quiet.LastErrorCode(), 10061);

  TTCPBlockSocket loud;
  loud.RaiseExcept = true;
  try {
    loud.Connect("127.0.0.1", closedPort);
    FAIL() << "no exception";
  } catch (const ESynapseError& e) {
    EXPECT_EQ(e.ErrorCode, 10061);
    EXPECT_EQ(e.ErrorMessage, "Connection refused");
    EXPECT_STREQ(e.what(), "Synapse TCP/IP Socket error 10061: Connection refused");
  }
}

TEST(TTCPBlockSocket, AConnectAlreadyInterruptedLooksNothingUp) {
  TTCPBlockSocket socket;
  socket.ConnectInterrupted = [] { return true; };
  // Looked up, this name would fail with the resolver's code instead.
  socket.Connect("skorrel-test.invalid", "22");
  EXPECT_EQ(socket.LastErrorCode(), 10004);
}

TEST(TTCPBlockSocket, AcceptOnASocketThatDoesNotListenFails) {
  TTCPBlockSocket socket;
  socket.Bind("127.0.0.1", "0");
  EXPECT_EQ(socket.Accept(), kInvalidSocket);
  EXPECT_NE(socket.LastErrorCode(), 0);
}

#ifndef _WIN32
// Where the peer's byte comes from: a handler may only touch what is reachable without a context.
socket_t signalWriter = kInvalidSocket;

// Found by the relay's fuzz target: the fuzzer's own timer signal, landing in a relay's send, made
// it record 10004 and drop the connection. A caught signal is no failure of the socket.
TEST(TTCPBlockSocket, ASignalDuringAWaitOrAReceiveIsNotAnError) {
  Connection c;
  signalWriter = c.client.SocketHandle();
  // No SA_RESTART: the interrupted call returns, as it does under any handler installed that way.
  struct sigaction writeOnAlarm = {};
  struct sigaction previous = {};
  writeOnAlarm.sa_handler = [](int) { (void)send(signalWriter, "x", 1, MSG_NOSIGNAL); };
  ASSERT_EQ(sigaction(SIGALRM, &writeOnAlarm, &previous), 0);
  // The signal is the event the calls wait for, so its timing only decides whether it interrupts.
  const itimerval once{{0, 0}, {0, 50000}};
  char byte = 0;

  ASSERT_EQ(setitimer(ITIMER_REAL, &once, nullptr), 0);
  EXPECT_TRUE(c.server.CanRead(-1));
  EXPECT_EQ(c.server.LastErrorCode(), 0);
  EXPECT_EQ(c.server.RecvBytes(&byte, 1), 1);

  ASSERT_EQ(setitimer(ITIMER_REAL, &once, nullptr), 0);
  EXPECT_EQ(c.server.RecvBytes(&byte, 1), 1);
  EXPECT_EQ(c.server.LastErrorCode(), 0);
  EXPECT_EQ(byte, 'x');
  sigaction(SIGALRM, &previous, nullptr);
}
#endif

}  // namespace
