#include "bench/ssh_forwarding.h"

#include <arpa/inet.h>
#include <crypt.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <pwd.h>
#include <shadow.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "native/mariadb/mariadb_server.h"
#include "native/ssh/sshd_server.h"

namespace fs = std::filesystem;

namespace {

// Whether something listens on 127.0.0.1:port. Asked of the kernel rather than found by connecting,
// since a test connection through `ssh -L` would open a channel of its own; and asked for listening
// sockets only, which is cheap, where reading /proc/net/tcp walks every connection and would
// take CPU from the ssh being waited for.
bool Listening(int port) {
  const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) throw std::runtime_error("no sock_diag socket");
  struct Close {
    int fd;
    ~Close() { close(fd); }
  } closer{fd};
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.request.sdiag_family = AF_INET;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = 1u << 10;  // TCP_LISTEN
  if (send(fd, &message, sizeof message, 0) != sizeof message) throw std::runtime_error("sock_diag failed");
  bool found = false;
  alignas(nlmsghdr) char buffer[16384];
  for (;;) {
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return found;
    int left = static_cast<int>(got);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
      if (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR) return found;
      const auto* socket = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
      if (ntohs(socket->id.idiag_sport) == port && socket->id.idiag_src[0] == htonl(INADDR_LOOPBACK))
        found = true;
    }
  }
}

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

// Starts a program that dies with us, its output appended to logPath, with extra environment
// entries ("NAME=value"). Everything the child needs is made before the fork: other threads run.
pid_t Spawn(std::vector<std::string> args, const std::string& logPath,
            std::vector<std::string> extraEnv = {}) {
  std::vector<char*> argv = Argv(args);
  std::vector<char*> envp;
  for (char** entry = environ; *entry; ++entry) envp.push_back(*entry);
  for (std::string& entry : extraEnv) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(125);
    const int quiet = open("/dev/null", O_RDONLY);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(quiet, STDIN_FILENO);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

bool Exited(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

struct ProcessEntry {
  pid_t parent = 0;
  unsigned long long ticks = 0;
};

std::map<pid_t, ProcessEntry> ProcessTable() {
  std::map<pid_t, ProcessEntry> table;
  DIR* proc = opendir("/proc");
  if (!proc) return table;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    const std::string stat = ReadFile("/proc/" + std::string(entry->d_name) + "/stat");
    // The command name may hold anything, so the fields are counted from its closing parenthesis.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    ProcessEntry process;
    for (int i = 3; fields >> field && i <= 15; ++i) {
      if (i == 4) process.parent = static_cast<pid_t>(std::stol(field));
      if (i == 14 || i == 15) process.ticks += std::stoull(field);
    }
    table[static_cast<pid_t>(pid)] = process;
  }
  closedir(proc);
  return table;
}

std::set<pid_t> Tree(pid_t root, const std::map<pid_t, ProcessEntry>& table) {
  std::set<pid_t> tree{root};
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [pid, process] : table)
      if (tree.count(process.parent) && tree.insert(pid).second) grew = true;
  }
  return tree;
}

}  // namespace

const char* BenchSshUser() { return SshServer::kUser; }
const char* BenchSshPassword() { return SshServer::kPassword; }

CpuByProcess ProcessTreeCpu(pid_t root) {
  CpuByProcess cpu;
  if (root <= 0) return cpu;
  const auto table = ProcessTable();
  const double tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
  for (pid_t pid : Tree(root, table))
    if (auto it = table.find(pid); it != table.end()) cpu[pid] = static_cast<double>(it->second.ticks) * tick;
  return cpu;
}

double CpuSpent(const CpuByProcess& before, const CpuByProcess& after) {
  double spent = 0;
  for (const auto& [pid, seconds] : after) {
    const auto earlier = before.find(pid);
    spent += seconds - (earlier != before.end() ? earlier->second : 0);
  }
  return spent;
}

void KillProcessTree(pid_t root) {
  if (root <= 0) return;
  const std::set<pid_t> tree = Tree(root, ProcessTable());
  for (pid_t pid : tree) kill(pid, SIGTERM);
  int status = 0;
  while (waitpid(root, &status, 0) < 0 && errno == EINTR) {
  }
  // The others are sshd's children, reaped by it or by init; they get a moment to go.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (pid_t pid : tree) {
    while (pid != root && kill(pid, 0) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (pid != root) kill(pid, SIGKILL);
  }
}

BenchSshd::BenchSshd() {
  try {
    Start();
  } catch (...) {
    Stop();
    throw;
  }
}

BenchSshd::~BenchSshd() { Stop(); }

void BenchSshd::Start() {
  SshServer::EnsureTestUser();
  mkdir("/run/sshd", 0755);
  chmod("/run/sshd", 0755);
  std::string pattern = (fs::temp_directory_path() / "skorrel-bench-sshd.XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  chmod(dir_.c_str(), 0755);
  for (const char* name : {"host_ed25519", "client_ed25519"}) {
    if (RunProgram({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", dir_ + "/" + name})
            .status != 0)
      throw std::runtime_error("ssh-keygen failed");
  }
  WriteFile(dir_ + "/authorized_keys", ReadFile(dir_ + "/client_ed25519.pub"));
  chmod((dir_ + "/authorized_keys").c_str(), 0644);
  // For ssh -L with password login: ssh asks this program instead of a terminal.
  WriteFile(dir_ + "/password", std::string(SshServer::kPassword) + "\n");
  WriteFile(AskPass(), "#!/bin/sh\nexec cat " + dir_ + "/password\n");
  chmod(AskPass().c_str(), 0700);

  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeLoopbackPort();
    const std::string config = dir_ + "/sshd_config";
    // Password login for our tunnel, the key for ssh -L. DEBUG1 makes sshd log what each
    // connection negotiated.
    WriteFile(config, "Port " + std::to_string(port_) + "\nListenAddress 127.0.0.1\nHostKey " + dir_ +
                          "/host_ed25519\nPidFile " + dir_ +
                          "/sshd.pid\nUsePAM no\nPasswordAuthentication yes\nKbdInteractiveAuthentication "
                          "no\nPubkeyAuthentication yes\nAuthorizedKeysFile " +
                          dir_ + "/authorized_keys\nPermitRootLogin no\nAllowUsers " + SshServer::kUser +
                          "\nAllowTcpForwarding yes\nPermitOpen any\nStrictModes no\nUseDNS no\nMaxStartups "
                          "200\nLogLevel DEBUG1\n");
    pid_ = Spawn({"/usr/sbin/sshd", "-D", "-f", config, "-E", dir_ + "/sshd.log"}, "/dev/null");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Exited(pid_)) {
        pid_ = -1;
        break;
      }
      if (Listening(port_)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
  }
  throw std::runtime_error("sshd did not start:\n" + ReadFile(dir_ + "/sshd.log"));
}

void BenchSshd::Stop() {
  KillProcessTree(pid_);
  pid_ = -1;
  if (dir_.empty()) return;
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
  dir_.clear();
}

Negotiated BenchSshd::LastNegotiated() const {
  Negotiated found;
  std::istringstream log(ReadFile(dir_ + "/sshd.log"));
  for (std::string line; std::getline(log, line);) {
    if (auto at = line.find("kex: algorithm: "); at != std::string::npos) {
      std::istringstream(line.substr(at + 16)) >> found.kex;
    } else if (auto at = line.find("kex: client->server cipher: "); at != std::string::npos) {
      std::istringstream fields(line.substr(at + 28));
      std::string macWord;
      fields >> found.cipher >> macWord >> found.mac;
      if (found.mac == "<implicit>") found.mac.clear();
    }
  }
  return found;
}

SshForward::SshForward(const BenchSshd& sshd, const ForwardOptions& options,
                       const std::vector<int>& targetPorts) {
  std::vector<std::string> args = {"/usr/bin/ssh",
                                   "-F",
                                   "/dev/null",
                                   "-N",
                                   "-T",
                                   "-o",
                                   "StrictHostKeyChecking=no",
                                   "-o",
                                   "UserKnownHostsFile=/dev/null",
                                   "-o",
                                   "ExitOnForwardFailure=yes",
                                   "-o",
                                   "LogLevel=ERROR",
                                   "-o",
                                   "KexAlgorithms=" + options.kex,
                                   "-c",
                                   options.cipher,
                                   "-i",
                                   sshd.ClientKey(),
                                   "-p",
                                   std::to_string(sshd.Port())};
  if (!options.mac.empty()) args.insert(args.end(), {"-m", options.mac});
  std::vector<std::string> env;
  if (options.password) {
    args.insert(args.end(), {"-o", "PubkeyAuthentication=no", "-o", "PreferredAuthentications=password", "-o",
                             "NumberOfPasswordPrompts=1"});
    env = {"SSH_ASKPASS=" + sshd.AskPass(), "SSH_ASKPASS_REQUIRE=force"};
  } else {
    args.insert(args.end(), {"-o", "BatchMode=yes", "-o", "IdentitiesOnly=yes"});
  }
  for (int target : targetPorts) {
    int local = FreeLoopbackPort();
    while (std::find(localPorts_.begin(), localPorts_.end(), local) != localPorts_.end())
      local = FreeLoopbackPort();
    localPorts_.push_back(local);
    args.insert(args.end(),
                {"-L", "127.0.0.1:" + std::to_string(local) + ":127.0.0.1:" + std::to_string(target)});
  }
  args.push_back(std::string(SshServer::kUser) + "@127.0.0.1");
  const std::string log = sshd.Folder() + "/ssh-client.log";
  pid_ = Spawn(args, log, env);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    if (Exited(pid_)) {
      pid_ = -1;
      throw std::runtime_error("ssh -L ended:\n" + ReadFile(log));
    }
    bool all = true;
    for (int port : localPorts_) all = all && Listening(port);
    if (all) return;
    if (std::chrono::steady_clock::now() > deadline) {
      KillProcessTree(pid_);
      throw std::runtime_error("ssh -L did not start listening:\n" + ReadFile(log));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

SshForward::~SshForward() { KillProcessTree(pid_); }

double PasswordCheckSeconds() {
  const spwd* entry = getspnam(SshServer::kUser);
  if (!entry) return 0;
  const std::string hash = entry->sp_pwdp;
  crypt_data data{};
  const auto start = std::chrono::steady_clock::now();
  const char* result = crypt_r(SshServer::kPassword, hash.c_str(), &data);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result && hash == result ? seconds : 0;
}
