// The tunnel benchmark's Windows side, so that every path is measured by the same Wine client:
//   tunnel_bench client PORT          bulk both ways at once, 100-byte round trips and fresh
//                                     connections against an echo server behind PORT; prints
//                                     "bulk MB/s", "rtt µs" and "connect ms" lines
//   tunnel_bench relay LISTEN TARGET  a plain TCP relay as ours is built (select, then recv and
//                                     send), without SSH: the floor of any relay under Wine
//   tunnel_bench signal EVENT         sets a named event (ends the stand-in player's wait)
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kBulkBytes = 64 << 20;
constexpr int kChunk = 64 << 10;
constexpr int kRoundTrips = 1000;
constexpr int kRoundTripBytes = 100;
constexpr int kConnects = 10;

double Seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "tunnel_bench: %s failed (%d)\n", what, WSAGetLastError());
  std::exit(1);
}

sockaddr_in Loopback(unsigned short port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

SOCKET Connect(unsigned short port, bool noDelay) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const int on = noDelay ? 1 : 0;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  // A path that stalls fails the run instead of hanging it.
  const DWORD timeoutMs = 30000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
  const sockaddr_in address = Loopback(port);
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) Die("connect");
  return s;
}

bool SendAll(SOCKET s, const char* data, int n) {
  while (n > 0) {
    const int sent = send(s, data, n, 0);
    if (sent <= 0) return false;
    data += sent;
    n -= sent;
  }
  return true;
}

void RecvExactly(SOCKET s, char* data, int n) {
  while (n > 0) {
    const int got = recv(s, data, n, 0);
    if (got <= 0) Die("recv");
    data += got;
    n -= got;
  }
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The echo sends back what it gets, so the bytes go both ways at once.
double BulkMegabytesPerSecond(unsigned short port) {
  SOCKET s = Connect(port, false);
  const double start = Seconds();
  std::thread sender([s] {
    std::vector<char> chunk(kChunk, 'x');
    for (int left = kBulkBytes; left > 0; left -= kChunk)
      if (!SendAll(s, chunk.data(), std::min(left, kChunk))) Die("send");
  });
  std::vector<char> buffer(kChunk);
  for (int got = 0; got < kBulkBytes;) {
    const int n = recv(s, buffer.data(), kChunk, 0);
    if (n <= 0) Die("bulk recv");
    got += n;
  }
  const double spent = Seconds() - start;
  sender.join();
  closesocket(s);
  return kBulkBytes / spent / 1e6;
}

double RoundTripMedianMicroseconds(unsigned short port) {
  SOCKET s = Connect(port, true);
  char message[kRoundTripBytes];
  std::memset(message, 'r', sizeof message);
  std::vector<double> times;
  for (int i = 0; i < kRoundTrips + 10; ++i) {
    const double start = Seconds();
    if (!SendAll(s, message, sizeof message)) Die("send");
    RecvExactly(s, message, sizeof message);
    // The first few set the path up.
    if (i >= 10) times.push_back((Seconds() - start) * 1e6);
  }
  closesocket(s);
  return Median(times);
}

double ConnectMedianMilliseconds(unsigned short port) {
  std::vector<double> times;
  for (int i = 0; i < kConnects; ++i) {
    const double start = Seconds();
    SOCKET s = Connect(port, true);
    char byte = 'c';
    if (!SendAll(s, &byte, 1)) Die("send");
    RecvExactly(s, &byte, 1);
    times.push_back((Seconds() - start) * 1e3);
    closesocket(s);
  }
  return Median(times);
}

// One connection: whatever arrives on either side goes out on the other, a full buffer each time.
void RelayOne(SOCKET client, unsigned short target) {
  SOCKET server = Connect(target, true);
  const int on = 1;
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  std::vector<char> buffer(kChunk);
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client, &readable);
    FD_SET(server, &readable);
    timeval wait{0, 500000};
    if (select(0, &readable, nullptr, nullptr, &wait) < 0) break;
    bool open = true;
    for (auto [from, to] : {std::pair{client, server}, std::pair{server, client}}) {
      if (!FD_ISSET(from, &readable)) continue;
      const int n = recv(from, buffer.data(), kChunk, 0);
      if (n <= 0 || !SendAll(to, buffer.data(), n)) open = false;
    }
    if (!open) break;
  }
  closesocket(client);
  closesocket(server);
}

void Relay(unsigned short listenPort, unsigned short target) {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const sockaddr_in address = Loopback(listenPort);
  if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) Die("bind");
  if (listen(listener, SOMAXCONN) != 0) Die("listen");
  std::printf("listening\n");
  std::fflush(stdout);
  for (;;) {
    const SOCKET client = accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) Die("accept");
    std::thread(RelayOne, client, target).detach();
  }
}

unsigned short Port(const char* text) { return static_cast<unsigned short>(std::strtoul(text, nullptr, 10)); }

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "signal" && argc == 3) {
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    return event && SetEvent(event) ? 0 : 1;
  }
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) Die("WSAStartup");
  if (mode == "client" && argc == 3) {
    const unsigned short port = Port(argv[2]);
    std::printf("connect %.2f\n", ConnectMedianMilliseconds(port));
    std::printf("rtt %.0f\n", RoundTripMedianMicroseconds(port));
    std::printf("bulk %.1f\n", BulkMegabytesPerSecond(port));
    return 0;
  }
  if (mode == "relay" && argc == 4) Relay(Port(argv[2]), Port(argv[3]));
  std::fprintf(stderr, "usage: tunnel_bench client PORT | relay LISTEN TARGET | signal EVENT\n");
  return 2;
}
