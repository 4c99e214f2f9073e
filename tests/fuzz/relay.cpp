// The relay's copying between the local connection and the SSH side, over in-memory socket pairs.
// The input is a script of pieces, each arriving on one side, then one side closing. The SSH side
// is a plain socket or a fake channel that hands its data out in pieces and takes what is sent to
// it only as far as its window allows, refusing everything while the window is shut. After every
// piece a relay pass must have delivered, whole and in order, all that either side has sent; the
// close must end the relay, and the clean-up must close the local connection.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz/check.h"
#include "tunnel/thread_sshproxyclient.h"

namespace {

// Both ends of one in-memory connection; the relay adopts the first.
struct Pair {
  int relayEnd = -1, peer = -1;
  Pair() {
    int fds[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
    relayEnd = fds[0];
    peer = fds[1];
  }
  ~Pair() {
    if (peer >= 0) close(peer);
  }
  void Write(const std::string& bytes) const {
    FUZZ_CHECK(send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()));
  }
  // What is waiting at the peer, in one receive: a socket pair hands over all it holds at once.
  // 0 when the other end has closed.
  ssize_t ReadInto(std::string& received) const {
    char buffer[16384];
    const ssize_t n = recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
    return n;
  }
};

// The secured side as the relay sees a libssh2 channel: data popped in pieces, sends limited by a
// window, and a window that opens again only after input on the raw socket says so.
class FakeChannel final : public TCustomSSL {
 public:
  explicit FakeChannel(TTCPBlockSocket& owner) : TCustomSSL(owner) { securityActive_ = true; }

  FuzzedDataProvider* script = nullptr;  // sizes of windows and pieces
  std::string incoming;                  // what the server has sent and the relay not yet read
  std::string outgoing;                  // what the relay sent into the channel
  bool closed = false;
  int rawPeer = -1;

  std::int32_t SendBytes(const void* buffer, std::int32_t length) override {
    lastErrorCode_ = 0;
    if (signalled_) {
      char byte;
      FUZZ_CHECK(recv(Owner().SocketHandle(), &byte, 1, MSG_DONTWAIT) == 1);
      signalled_ = false;
    }
    if (window_ == 0) {
      // Shut: the news that it opened again arrives on the raw socket.
      window_ = Size();
      FUZZ_CHECK(send(rawPeer, "w", 1, MSG_NOSIGNAL) == 1);
      signalled_ = true;
      return 0;
    }
    const std::int32_t n = std::min(length, window_);
    outgoing.append(static_cast<const char*>(buffer), static_cast<std::size_t>(n));
    window_ -= n;
    return n;
  }
  std::int32_t RecvBytes(void* buffer, std::int32_t length) override {
    lastErrorCode_ = 0;
    if (incoming.empty()) {
      if (closed) lastErrorCode_ = -7;  // the channel's end, as libssh2 reports it
      return closed ? -1 : 0;
    }
    const std::int32_t piece = Size();
    const std::int32_t n = std::min({length, piece, static_cast<std::int32_t>(incoming.size())});
    incoming.copy(static_cast<char*>(buffer), static_cast<std::size_t>(n));
    incoming.erase(0, static_cast<std::size_t>(n));
    return n;
  }
  std::int32_t PendingBytes() override { return static_cast<std::int32_t>(incoming.size()); }
  void NewRound() { sizes_ = 0; }
  bool EndSecurity() override {
    securityActive_ = false;
    return true;
  }

 private:
  // Mostly a few bytes, sometimes some kilobytes; everything once the script has run out, so that a
  // run does not crawl a byte at a time. Each piece is one send to the local side, which nobody reads
  // while the relay runs, and a socket pair holds only a few hundred sends however small: so only
  // the first pieces of a round are chosen by the script.
  std::int32_t Size() {
    if (script->remaining_bytes() == 0 || sizes_ == kSmallSizes) return 65535;
    ++sizes_;
    const int b = script->ConsumeIntegral<std::uint8_t>();
    return b < 32 ? b + 1 : (b - 31) * 293;
  }

  static constexpr int kSmallSizes = 64;
  int sizes_ = 0;
  std::int32_t window_ = 0;
  bool signalled_ = false;
};

struct PlugSwap {
  TSSLClass previous;
  explicit PlugSwap(TSSLClass plug) : previous(DefaultSSLClass.exchange(plug)) {}
  ~PlugSwap() { DefaultSSLClass.store(previous); }
};

bool Failed(const TTCPBlockSocket& a, const TTCPBlockSocket& b) {
  return a.LastErrorCode() != 0 || b.LastErrorCode() != 0;
}

}  // namespace

// The relay gives way to other threads after every pass and piece. A run has no other thread, and
// on a busy machine each of those hand-overs would cost the run a whole time slice, so here they
// give nothing away.
extern "C" int sched_yield() noexcept { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool channel = input.ConsumeBool();
  const bool localCloses = input.ConsumeBool();

  Pair localPair, sshPair;
  TTCPBlockSocket local;
  local.SetSocketHandle(localPair.relayEnd);
  std::unique_ptr<PlugSwap> swap;
  if (channel) swap = std::make_unique<PlugSwap>(&SSLClassOf<FakeChannel>);
  TTCPBlockSocket ssh;
  swap.reset();
  ssh.SetSocketHandle(sshPair.relayEnd);
  auto* fake = channel ? static_cast<FakeChannel*>(&ssh.SecurityPlug()) : nullptr;
  if (fake) {
    fake->script = &input;
    fake->rawPeer = sshPair.peer;
  }

  std::string toSSH, fromSSH, atSSH, atLocal;
  for (int round = 0; round < 8 && input.remaining_bytes() > 0; ++round) {
    const bool fromLocal = input.ConsumeBool();
    const std::string piece = input.ConsumeRandomLengthString(4096);
    if (fromLocal) {
      localPair.Write(piece);
      toSSH += piece;
    } else {
      if (fake)
        fake->incoming += piece;
      else
        sshPair.Write(piece);
      fromSSH += piece;
    }
    if (fake) fake->NewRound();
    FUZZ_CHECK(RelaySockets(local, ssh, 0));
    FUZZ_CHECK(!Failed(local, ssh));
    if (!fromLocal)
      FUZZ_CHECK(localPair.ReadInto(atLocal) != 0);
    else if (fake)
      atSSH = fake->outgoing;
    else
      FUZZ_CHECK(sshPair.ReadInto(atSSH) != 0);
    FUZZ_CHECK(atLocal == fromSSH && atSSH == toSSH);
  }

  if (localCloses)
    shutdown(localPair.peer, SHUT_WR);
  else if (fake)
    fake->closed = true;
  else
    shutdown(sshPair.peer, SHUT_WR);
  for (int pass = 0; pass < 2 && !Failed(local, ssh); ++pass) RelaySockets(local, ssh, 0);
  FUZZ_CHECK(Failed(local, ssh));

  local.SecurityPlug().EndSecurity();
  ssh.SecurityPlug().EndSecurity();
  local.CloseConnection();
  ssh.CloseConnection();
  ssize_t n;
  while ((n = localPair.ReadInto(atLocal)) > 0) {
  }
  FUZZ_CHECK(n == 0 && atLocal == fromSSH);
  return 0;
}
