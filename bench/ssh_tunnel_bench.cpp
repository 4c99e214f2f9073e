// Our SSH tunnel against OpenSSH's `ssh -L`, through the same sshd in one run, with the direct
// connection as the floor: bulk throughput each way, a 100-byte request/response, a 5 MB reply,
// and a database connect + INSERT + close (our tunnel makes a new SSH session per connection, so
// that one is set against both a long-lived `ssh -L` and a fresh one per statement); last, the
// database's sender draining a backlog of 1,000 statements through our tunnel on one connection.
//
// The same-cipher `ssh -L` is forced to whatever our session negotiated, read from sshd's log;
// ChaCha20 and AES-GCM runs of `ssh -L` show what OpenSSH does with its preferred ciphers.
//
//   bench_ssh_tunnel [--bulk-mib=N] [--statements=N] [--fresh=N] [--only=bulk,exchange,statements]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/ssh_forwarding.h"
#include "bench/timed_client.h"
#include "database/thread_mysql_updater.h"
#include "native/mariadb/mariadb_server.h"
#include "native/ssh/loopback_server.h"
#include "outbox/outbox.h"
#include "tunnel/libssh2_binding.h"
#include "tunnel/ssh_tunnel.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Options {
  std::uint64_t bulkBytes = std::uint64_t{1} << 30;
  int roundTrips = 2000;
  int replies = 20;
  std::uint64_t replyBytes = 5'000'000;
  int statements = 30;
  int freshStatements = 15;
  bool runBulk = true;
  bool runExchanges = true;
  bool runStatements = true;
};

constexpr std::size_t kChunk = 256 * 1024;

// ---- The far end of every path: a request is a command byte and a 64-bit length. 'U' is
// followed by that many bytes and answered with one byte once all arrived; 'D' asks for that
// many; 'R' sends that many and gets them back.

void SetNoDelay(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool SendAll(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t sent = send(fd, data, n, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool RecvAll(int fd, char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t got = recv(fd, data, n, 0);
    if (got <= 0) return false;
    data += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool RecvDiscard(int fd, std::uint64_t n, std::vector<char>& scratch) {
  while (n > 0) {
    const ssize_t got = recv(fd, scratch.data(), std::min<std::uint64_t>(n, scratch.size()), 0);
    if (got <= 0) return false;
    n -= static_cast<std::uint64_t>(got);
  }
  return true;
}

bool SendRepeated(int fd, std::uint64_t n, const std::vector<char>& chunk) {
  while (n > 0) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(n, chunk.size()));
    if (!SendAll(fd, chunk.data(), piece)) return false;
    n -= piece;
  }
  return true;
}

struct Request {
  char command;
  std::uint64_t length;
};

bool SendRequest(int fd, Request request) {
  char header[9];
  header[0] = request.command;
  std::memcpy(header + 1, &request.length, 8);
  return SendAll(fd, header, sizeof header);
}

void ServeData(int fd) {
  SetNoDelay(fd);
  std::vector<char> buffer(kChunk, 'Z');
  for (char header[9]; RecvAll(fd, header, sizeof header);) {
    std::uint64_t n = 0;
    std::memcpy(&n, header + 1, 8);
    bool ok = false;
    if (header[0] == 'U') ok = RecvDiscard(fd, n, buffer) && SendAll(fd, "k", 1);
    if (header[0] == 'D') ok = SendRepeated(fd, n, buffer);
    if (header[0] == 'R')
      ok = n <= buffer.size() && RecvAll(fd, buffer.data(), n) && SendAll(fd, buffer.data(), n);
    if (!ok) return;
  }
}

class DataClient {
 public:
  explicit DataClient(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)), buffer_(kChunk, 'u') {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("cannot connect to port " + std::to_string(port));
    SetNoDelay(fd_.get());
  }

  // Seconds until the far end has every byte.
  double Upload(std::uint64_t n) {
    const auto start = Clock::now();
    char ack;
    Check(SendRequest(fd_.get(), {'U', n}) && SendRepeated(fd_.get(), n, buffer_) &&
          RecvAll(fd_.get(), &ack, 1));
    return SecondsSince(start);
  }
  double Download(std::uint64_t n) {
    const auto start = Clock::now();
    Check(SendRequest(fd_.get(), {'D', n}) && RecvDiscard(fd_.get(), n, buffer_));
    return SecondsSince(start);
  }
  // One request of n bytes in a single write, and its reply of n bytes.
  double RoundTrip(std::size_t n) {
    char request[9 + 4096];
    request[0] = 'R';
    const std::uint64_t length = n;
    std::memcpy(request + 1, &length, 8);
    std::memset(request + 9, 'r', n);
    const auto start = Clock::now();
    Check(SendAll(fd_.get(), request, 9 + n) && RecvAll(fd_.get(), buffer_.data(), n));
    return SecondsSince(start);
  }

 private:
  static void Check(bool ok) {
    if (!ok) throw std::runtime_error("the data connection broke");
  }
  unique_socket fd_;
  std::vector<char> buffer_;
};

// ---- Statistics and CPU

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}
double Median(const std::vector<double>& values) { return Percentile(values, 0.5); }

double SelfCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU seconds of the benchmark process (which holds our relay, the client and the far end), the
// ssh client, and sshd with its sessions.
struct CpuSample {
  double self = 0;
  CpuByProcess ssh, sshd;
};
struct Cpu {
  double self = 0, ssh = 0, sshd = 0;
};

// ---- The paths

struct Path {
  Path(std::string name, int dataPort, int dbPort, pid_t sshClient = -1)
      : name(std::move(name)), dataPort(dataPort), dbPort(dbPort), sshClient(sshClient) {}

  std::string name;
  int dataPort;
  int dbPort;
  pid_t sshClient;

  double bulkUpSeconds = 0, bulkDownSeconds = 0;
  Cpu bulkUpCpu, bulkDownCpu;
  std::vector<double> roundTrips, replies;
  std::vector<double> reach, statement, total;
};

struct Environment {
  const BenchSshd& sshd;
  const Options& options;
};

CpuSample SampleCpu(const Environment& env, const Path& path) {
  return {SelfCpuSeconds(), ProcessTreeCpu(path.sshClient), ProcessTreeCpu(env.sshd.Pid())};
}

Cpu CpuBetween(const CpuSample& before, const CpuSample& after) {
  return {after.self - before.self, CpuSpent(before.ssh, after.ssh), CpuSpent(before.sshd, after.sshd)};
}

void MeasureBulk(const Environment& env, Path& path) {
  DataClient client(path.dataPort);
  client.RoundTrip(100);  // the channel stands before the clock starts
  CpuSample before = SampleCpu(env, path);
  path.bulkUpSeconds = client.Upload(env.options.bulkBytes);
  CpuSample after = SampleCpu(env, path);
  path.bulkUpCpu = CpuBetween(before, after);
  before = after;
  path.bulkDownSeconds = client.Download(env.options.bulkBytes);
  after = SampleCpu(env, path);
  path.bulkDownCpu = CpuBetween(before, after);
}

// Rounds taken in turn over the paths, so that a change in the machine's load meets them all.
void MeasureRoundTripsAndReplies(const Environment& env, std::vector<Path*>& paths) {
  std::vector<std::unique_ptr<DataClient>> clients;
  for (Path* path : paths) {
    clients.push_back(std::make_unique<DataClient>(path->dataPort));
    for (int i = 0; i < 100; ++i) clients.back()->RoundTrip(100);
    clients.back()->Download(env.options.replyBytes);
  }
  constexpr int kRounds = 10;
  for (int round = 0; round < kRounds; ++round) {
    for (std::size_t p = 0; p < paths.size(); ++p) {
      for (int i = 0; i < env.options.roundTrips / kRounds; ++i)
        paths[p]->roundTrips.push_back(clients[p]->RoundTrip(100));
    }
  }
  for (int i = 0; i < env.options.replies; ++i) {
    for (std::size_t p = 0; p < paths.size(); ++p)
      paths[p]->replies.push_back(clients[p]->Download(env.options.replyBytes));
  }
}

constexpr const char* kInsert =
    "insert into `tolby`.`winamp_played` (`fulltitle`) values ('Some Artist - Some Title')";

// Returns false when the statement failed.
bool TimeStatement(Path& path, double before = 0) {
  double greeting = 0, done = 0;
  if (!TimedConnectInsertClose("127.0.0.1", MariaDBServer::kUser, MariaDBServer::kPassword,
                               static_cast<unsigned>(path.dbPort), kInsert, &greeting, &done))
    return false;
  path.reach.push_back(before + greeting);
  path.statement.push_back(done - greeting);
  path.total.push_back(before + done);
  return true;
}

// Each statement alone: the previous one's relay and sshd session are gone before the next starts.
void Settle(SSHTunnel& dbTunnel) {
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (dbTunnel.Relays().Count() > 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// ssh -L started afresh for each statement, as by a user without a standing tunnel.
struct FreshForward {
  Path path;
  ForwardOptions options;
  std::vector<double> listening;  // from starting ssh until its port listened
};

int MeasureStatements(const Environment& env, std::vector<Path*>& paths, std::vector<FreshForward>& fresh,
                      SSHTunnel& dbTunnel, int mariadbPort) {
  int rows = 0;
  for (Path* path : paths) {
    // The first connection of a path warms caches and sshd's binaries; not counted.
    double ignored = 0;
    TimedConnectInsertClose("127.0.0.1", MariaDBServer::kUser, MariaDBServer::kPassword,
                            static_cast<unsigned>(path->dbPort), kInsert, &ignored, &ignored);
    ++rows;
    Settle(dbTunnel);
  }
  const int freshEvery = std::max(1, env.options.statements / std::max(1, env.options.freshStatements));
  for (int i = 0; i < env.options.statements; ++i) {
    for (Path* path : paths) {
      if (!TimeStatement(*path)) throw std::runtime_error("a statement failed through " + path->name);
      ++rows;
      Settle(dbTunnel);
    }
    for (FreshForward& forward : fresh) {
      if (i % freshEvery != 0 || static_cast<int>(forward.listening.size()) >= env.options.freshStatements)
        continue;
      const auto start = Clock::now();
      SshForward process(env.sshd, forward.options, {mariadbPort});
      const double listening = SecondsSince(start);
      forward.path.dbPort = process.LocalPort(0);
      if (!TimeStatement(forward.path, listening))
        throw std::runtime_error("a statement failed through " + forward.path.name);
      forward.listening.push_back(listening);
      ++rows;
    }
  }
  return rows;
}

// ---- The report

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

std::string Ratio(double ours, double theirs) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2fx", theirs > 0 ? ours / theirs : 0);
  return text;
}

void Verdict(const char* what, double ratio, const char* goal, bool met) {
  std::printf("  %-58s %6.2fx   goal %-8s %s\n", what, ratio, goal, met ? "met" : "MISSED");
}

std::string SshVersion() {
  ProgramResult result = RunProgram({"/bin/sh", "-c", "/usr/bin/ssh -V 2>&1"});
  while (!result.out.empty() && (result.out.back() == '\n' || result.out.back() == '\r'))
    result.out.pop_back();
  return result.out;
}

std::string Describe(const Negotiated& n) {
  return "kex " + n.kex + ", cipher " + n.cipher + (n.mac.empty() ? "" : ", MAC " + n.mac);
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> std::optional<std::string> {
      const std::string prefix = std::string(name) + "=";
      if (arg.rfind(prefix, 0) != 0) return std::nullopt;
      return arg.substr(prefix.size());
    };
    if (auto mib = value("--bulk-mib")) {
      options.bulkBytes = std::stoull(*mib) << 20;
    } else if (auto n = value("--statements")) {
      options.statements = std::stoi(*n);
    } else if (auto f = value("--fresh")) {
      options.freshStatements = std::stoi(*f);
    } else if (auto only = value("--only")) {
      options.runBulk = only->find("bulk") != std::string::npos;
      options.runExchanges = only->find("exchange") != std::string::npos;
      options.runStatements = only->find("statements") != std::string::npos;
    } else {
      std::fprintf(
          stderr, "usage: %s [--bulk-mib=N] [--statements=N] [--fresh=N] [--only=bulk,exchange,statements]\n",
          argv[0]);
      return std::nullopt;
    }
  }
  return options;
}

// The first path is the direct one: what its client and far end spend is taken off what this process
// spends on our tunnel, which leaves our relay.
void ReportBulk(const Environment& env, const std::vector<Path*>& paths) {
  std::printf(
      "\nBulk, %llu MiB each way on one connection: MB/s; CPU seconds per GB moved by the tunnel's client "
      "end\n"
      "(our relay, or the ssh process) and by sshd; cores busy in all\n  %-52s %-34s %s\n",
      static_cast<unsigned long long>(env.options.bulkBytes >> 20), "", "upload", "download");
  const double gb = static_cast<double>(env.options.bulkBytes) / 1e9;
  const Path& direct = *paths.front();
  auto print = [&](const Path& path, double seconds, const Cpu& cpu, const Cpu& directCpu) {
    const double relay = path.sshClient > 0 || &path == &direct ? cpu.ssh : cpu.self - directCpu.self;
    std::printf("%7.1f MB/s %5.2f %5.2f s/GB %4.2f cores   ", gb * 1e3 / seconds, relay / gb, cpu.sshd / gb,
                (cpu.self + cpu.ssh + cpu.sshd) / seconds);
  };
  for (Path* path : paths) {
    MeasureBulk(env, *path);
    std::printf("  %-52s ", path->name.c_str());
    print(*path, path->bulkUpSeconds, path->bulkUpCpu, direct.bulkUpCpu);
    print(*path, path->bulkDownSeconds, path->bulkDownCpu, direct.bulkDownCpu);
    std::printf("\n");
    std::fflush(stdout);
  }
}

void ReportExchanges(const Environment& env, std::vector<Path*>& paths, const Path& sshSame) {
  MeasureRoundTripsAndReplies(env, paths);
  std::printf("\n100-byte request/response, %d on one connection: microseconds\n", env.options.roundTrips);
  for (Path* path : paths)
    std::printf("  %-52s median %7.1f   p10 %7.1f   p90 %7.1f   %s of ssh -L\n", path->name.c_str(),
                Median(path->roundTrips) * 1e6, Percentile(path->roundTrips, 0.1) * 1e6,
                Percentile(path->roundTrips, 0.9) * 1e6,
                Ratio(Median(path->roundTrips), Median(sshSame.roundTrips)).c_str());
  std::printf("\n%.0f MB reply, %d times on one connection: milliseconds\n",
              static_cast<double>(env.options.replyBytes) / 1e6, env.options.replies);
  for (Path* path : paths)
    std::printf("  %-52s median %7.2f   min %7.2f   max %7.2f   %s of ssh -L\n", path->name.c_str(),
                Median(path->replies) * 1e3, Percentile(path->replies, 0) * 1e3,
                Percentile(path->replies, 1) * 1e3,
                Ratio(Median(path->replies), Median(sshSame.replies)).c_str());
  std::fflush(stdout);
}

void ReportStatements(const Environment& env, std::vector<Path*> paths, std::vector<FreshForward>& fresh,
                      SSHTunnel& dbTunnel, MariaDBServer& mariadb) {
  const int rows = MeasureStatements(env, paths, fresh, dbTunnel, mariadb.Port());
  for (FreshForward& forward : fresh) paths.push_back(&forward.path);
  std::printf(
      "\nConnect + one INSERT + close, %d times (%zu for each fresh ssh -L): milliseconds, median "
      "[p10..p90]\n  %-52s %-24s %-24s %s\n",
      env.options.statements, fresh.front().listening.size(), "", "total", "until the greeting",
      "login + INSERT + close");
  for (Path* path : paths)
    std::printf("  %-52s %6.2f [%6.2f..%6.2f]   %6.2f [%6.2f..%6.2f]   %6.2f [%6.2f..%6.2f]\n",
                path->name.c_str(), Median(path->total) * 1e3, Percentile(path->total, 0.1) * 1e3,
                Percentile(path->total, 0.9) * 1e3, Median(path->reach) * 1e3,
                Percentile(path->reach, 0.1) * 1e3, Percentile(path->reach, 0.9) * 1e3,
                Median(path->statement) * 1e3, Percentile(path->statement, 0.1) * 1e3,
                Percentile(path->statement, 0.9) * 1e3);
  std::printf(
      "  Until the greeting: ours includes a new SSH session; a fresh ssh -L's includes starting ssh,\n");
  for (const FreshForward& forward : fresh)
    std::printf("    %.1f ms median until its port listened (%s login)\n", Median(forward.listening) * 1e3,
                forward.options.password ? "password" : "key");
  std::printf(
      "  sshd checks a password in %.1f ms here (crypt with the account's hash, once per password login)\n",
      PasswordCheckSeconds() * 1e3);
  const std::vector<std::string> count = mariadb.Rows("SELECT COUNT(*) FROM tolby.winamp_played");
  if (count != std::vector<std::string>{std::to_string(rows)})
    std::printf("  ROWS MISSING: %d statements, the table has %s\n", rows,
                count.empty() ? "?" : count[0].c_str());
  std::fflush(stdout);
}

// A backlog of 1,000 statements in the outbox, as a day offline leaves it, sent by the database's
// sender through our tunnel on its one connection, set against the way before the outbox: a
// connection, and so a new SSH session, per statement (the median of the statements above).
void ReportDrain(SSHTunnel& dbTunnel, MariaDBServer& mariadb, const Path& ours) {
  constexpr int kBacklog = 1000;
  mariadb.EmptyTable();
  const std::string path = std::filesystem::temp_directory_path() / "skorrel-bench-drain.sqlite3";
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  Outbox(path, kMySQLQueue, nullptr).Store(std::vector<std::string>(kBacklog, kInsert), 0);
  std::mutex lock;
  std::condition_variable changed;
  int finished = 0;
  MySQLUpdateSeams seams;
  seams.log = [&](std::string_view line) {
    if (line != "TThreadMySQLUpdater.Execute: finished") return;
    const std::lock_guard<std::mutex> hold(lock);
    ++finished;
    changed.notify_all();
  };
  seams.queryFailedBox = [](const std::string&) {};
  MySQLTarget target{"127.0.0.1", MariaDBServer::kUser, MariaDBServer::kPassword, "", true};
  // The client library connects to its default port, which is our listener's here.
  ClientPortSwap toTheListener(dbTunnel.ListeningPort());
  MySQLLibraryUse library;
  const auto start = Clock::now();
  {
    MySQLPublisher publisher(seams);
    publisher.Resume(target, path);
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] { return finished >= kBacklog; });
    hold.unlock();
    publisher.Stop(std::chrono::seconds(60));
  }
  const double seconds = SecondsSince(start);
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  std::printf("\nA backlog of %d statements through our tunnel\n", kBacklog);
  std::printf("  %-58s %8.1f statements/s (%.2f s)\n", "the outbox's sender, one connection",
              kBacklog / seconds, seconds);
  std::printf("  %-58s %8.1f statements/s\n", "a connection and SSH session per statement, as before",
              1 / Median(ours.total));
  const std::vector<std::string> count = mariadb.Rows("SELECT COUNT(*) FROM tolby.winamp_played");
  if (count != std::vector<std::string>{std::to_string(kBacklog)})
    std::printf("  ROWS MISSING: the table has %s\n", count.empty() ? "?" : count[0].c_str());
  std::fflush(stdout);
}

void ReportGoals(const Options& options, const Path& direct, const Path& ours, const Path& sshSame,
                 const std::vector<FreshForward>& fresh) {
  std::printf("\nGoals: our tunnel against ssh -L with the same cipher\n");
  if (options.runBulk) {
    const double up = sshSame.bulkUpSeconds / ours.bulkUpSeconds;
    const double down = sshSame.bulkDownSeconds / ours.bulkDownSeconds;
    Verdict("bulk throughput, upload", up, ">= 0.8", up >= 0.8);
    Verdict("bulk throughput, download", down, ">= 0.8", down >= 0.8);
  }
  if (options.runExchanges) {
    const double rr = Median(ours.roundTrips) / Median(sshSame.roundTrips);
    Verdict("100-byte request/response, median time", rr, "<= 1.2", rr <= 1.2);
    const double reply = Median(ours.replies) / Median(sshSame.replies);
    Verdict("5 MB reply, median time", reply, "<= 1.2", reply <= 1.2);
  }
  if (options.runStatements) {
    const double statement = Median(ours.total) / Median(fresh[0].path.total);
    Verdict("connect + INSERT + close, against a fresh ssh -L", statement, "<= 0.5", statement <= 0.5);
    std::printf("  %-58s %6.2fx   (both log in with the password)\n",
                "  against a fresh ssh -L with password login",
                Median(ours.total) / Median(fresh[1].path.total));
    const double standing = Median(ours.statement) * 1e3;
    std::printf("  %-58s %6.2f ms goal <= 10 ms  %s\n", "login + INSERT + close once our session stands",
                standing, standing <= 10 ? "met" : "MISSED");
    std::printf("  %-58s %6.2f ms, %.2f ms from connect; direct %.2f ms\n",
                "  long-lived ssh -L, the same part", Median(sshSame.statement) * 1e3,
                Median(sshSame.total) * 1e3, Median(direct.statement) * 1e3);
  }
}

int Run(const Options& options) {
  const std::string loadAtStart = LoadAverage();
  MariaDBServer& mariadb = MariaDBServer::Shared();
  mariadb.EmptyTable();
  BenchSshd sshd;
  LoopbackServer data([](int fd) { ServeData(fd); });
  const std::string sshdAddress = "127.0.0.1:" + std::to_string(sshd.Port());

  // Our tunnel as the plug-in runs it: the library started once, a listener per target.
  SSHTunnel tunnel{"0"};
  tunnel.StartLibrary();
  const LibSSH2Entries& api = LibSSH2();
  if (!api.libssh2_version) throw std::runtime_error("libssh2 did not load");
  const std::string libssh2 = std::string("libssh2 ") + api.libssh2_version(0);
  tunnel.StartListener({sshdAddress, BenchSshUser(), BenchSshPassword(), data.Target()});
  SSHTunnel dbTunnel{"0"};
  dbTunnel.StartListener(
      {sshdAddress, BenchSshUser(), BenchSshPassword(), "127.0.0.1:" + std::to_string(mariadb.Port())});

  Path direct{"direct (no tunnel)", data.Port(), mariadb.Port()};
  Path ours{"our tunnel (" + libssh2 + ")", tunnel.ListeningPort(), dbTunnel.ListeningPort()};
  DataClient(ours.dataPort).RoundTrip(100);
  const Negotiated ourAlgorithms = sshd.LastNegotiated();
  if (ourAlgorithms.cipher.empty()) throw std::runtime_error("sshd logged no cipher for our session");

  // The same cipher and MAC as ours first; then OpenSSH's favourites, for reference.
  const ForwardOptions same{ourAlgorithms.cipher, ourAlgorithms.mac};
  std::vector<ForwardOptions> forwardOptions = {same};
  for (const char* cipher : {"chacha20-poly1305@openssh.com", "aes128-gcm@openssh.com"})
    if (same.cipher != cipher) forwardOptions.push_back({cipher, ""});
  std::vector<std::unique_ptr<SshForward>> forwards;
  std::vector<Path> sshPaths;
  std::vector<Negotiated> sshAlgorithms;
  for (const ForwardOptions& forward : forwardOptions) {
    forwards.push_back(
        std::make_unique<SshForward>(sshd, forward, std::vector<int>{data.Port(), mariadb.Port()}));
    const std::string name = "ssh -L " + forward.cipher + (forward.mac.empty() ? "" : " " + forward.mac);
    sshPaths.emplace_back(name, forwards.back()->LocalPort(0), forwards.back()->LocalPort(1),
                          forwards.back()->Pid());
    DataClient(sshPaths.back().dataPort).RoundTrip(100);
    sshAlgorithms.push_back(sshd.LastNegotiated());
  }
  Path& sshSame = sshPaths.front();
  sshSame.name = "ssh -L, long-lived, same cipher";

  std::printf(
      "Our tunnel and OpenSSH's ssh -L through one sshd on 127.0.0.1, with the direct path as the floor\n");
  std::printf("  %s; %s; %ld cores; load average at start %s\n", libssh2.c_str(), SshVersion().c_str(),
              sysconf(_SC_NPROCESSORS_ONLN), loadAtStart.c_str());
  std::printf("  our session:    %s\n", Describe(ourAlgorithms).c_str());
  for (std::size_t i = 0; i < sshPaths.size(); ++i)
    std::printf("  ssh -L session: %s%s\n", Describe(sshAlgorithms[i]).c_str(),
                i == 0 ? "  (the same as ours)" : "");
  std::fflush(stdout);

  const Environment env{sshd, options};
  std::vector<Path*> all = {&direct, &ours};
  for (Path& path : sshPaths) all.push_back(&path);
  if (options.runBulk) ReportBulk(env, all);
  if (options.runExchanges) ReportExchanges(env, all, sshSame);
  ForwardOptions withPassword = same;
  withPassword.password = true;
  std::vector<FreshForward> fresh = {{{"ssh -L, a fresh process per statement", 0, 0}, same, {}},
                                     {{"  the same with password login", 0, 0}, withPassword, {}}};
  if (options.runStatements) {
    ReportStatements(env, {&direct, &ours, &sshSame}, fresh, dbTunnel, mariadb);
    ReportDrain(dbTunnel, mariadb, ours);
  }
  ReportGoals(options, direct, ours, sshSame, fresh);
  std::printf("\nLoad average at the end %s\n", LoadAverage().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) return 2;
  if (geteuid() != 0) {
    std::printf("bench_ssh_tunnel: skipped, the sshd with password login needs root\n");
    return 0;
  }
  try {
    return Run(*options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_ssh_tunnel: %s\n", error.what());
    return 1;
  }
}
