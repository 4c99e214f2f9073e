#include "native/ssh/sshd_server.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "native/mariadb/mariadb_server.h"
#include "tunnel/socket_platform.h"

namespace fs = std::filesystem;

// The test user with its password, made once per machine. Test processes running side by side
// take turns, since useradd and chpasswd refuse to run while another holds the account files.
void SshServer::EnsureTestUser() {
  const int lock = open("/tmp/skorrel-sshd-user.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  if (lock < 0 || flock(lock, LOCK_EX) != 0) throw std::runtime_error("cannot lock the test user set-up");
  struct Unlock {
    int fd;
    ~Unlock() { close(fd); }
  } unlock{lock};
  if (!getpwnam(SshServer::kUser) &&
      RunProgram({"/usr/sbin/useradd", "--no-create-home", "--shell", "/bin/sh", SshServer::kUser}).status !=
          0)
    throw std::runtime_error("useradd failed (the sshd tests run as root)");
  const std::string line = std::string(SshServer::kUser) + ":" + SshServer::kPassword;
  if (RunProgram({"/bin/sh", "-c", "printf '%s\\n' \"$1\" | /usr/sbin/chpasswd", "sh", line}).status != 0)
    throw std::runtime_error("chpasswd failed");
}

SshServer::SshServer() : SshServer(Options{}) {}

SshServer::SshServer(Options options) {
  try {
    Start(options);
  } catch (...) {
    Stop(SIGKILL);
    RemoveFolder();
    throw;
  }
}

SshServer::~SshServer() {
  Stop(SIGTERM);
  RemoveFolder();
}

void SshServer::Start(const Options& options) {
  if (geteuid() != 0) throw std::runtime_error("sshd with password login needs root");
  EnsureTestUser();
  // sshd's privilege separation needs this folder.
  mkdir("/run/sshd", 0755);
  chmod("/run/sshd", 0755);

  std::string pattern = (fs::temp_directory_path() / "skorrel-sshd.XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  chmod(dir_.c_str(), 0755);
  const std::string key = dir_ + "/host_" + options.hostKeyType;
  hostKeyFile_ = key;
  if (RunProgram({"/usr/bin/ssh-keygen", "-q", "-t", options.hostKeyType, "-N", "", "-f", key}).status != 0)
    throw std::runtime_error("ssh-keygen failed");
  const bool keyLogin = !options.authorizedKeys.empty();
  if (keyLogin) WriteFile(dir_ + "/authorized_keys", options.authorizedKeys);
  const std::string login = keyLogin
                                ? "UsePAM no\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                  "PubkeyAuthentication yes\nAuthorizedKeysFile " +
                                      dir_ + "/authorized_keys\n"
                            : options.keyboardInteractiveOnly
                                ? "UsePAM yes\nPasswordAuthentication no\nKbdInteractiveAuthentication yes\n"
                                  "PubkeyAuthentication no\nAuthorizedKeysFile none\n"
                                : "UsePAM no\nPasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
                                  "PubkeyAuthentication no\nAuthorizedKeysFile none\n";

  // The port was free a moment ago; if someone takes it first sshd dies and we try another.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeLoopbackPort();
    const std::string config = dir_ + "/sshd_config";
    WriteFile(config, "Port " + std::to_string(port_) +
                          "\n"
                          "ListenAddress 127.0.0.1\n"
                          "HostKey " +
                          key +
                          "\n"
                          "PidFile " +
                          dir_ + "/sshd.pid\n" + login +
                          "PermitRootLogin no\n"
                          "AllowUsers " +
                          std::string(kUser) +
                          "\n"
                          "AllowTcpForwarding yes\n"
                          "PermitOpen any\n"
                          "StrictModes no\n"
                          "UseDNS no\n"
                          "MaxStartups 200\n"
                          "LogLevel VERBOSE\n");
    // Absolute paths throughout: with a relative log path every connection dies silently.
    std::vector<std::string> args = {"/usr/sbin/sshd", "-D", "-f", config, "-E", dir_ + "/sshd.log"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      // Its own process group, so that Kill reaches the session processes too.
      setpgid(0, 0);
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(125);
      execv(argv[0], argv.data());
      _exit(127);
    }
    setpgid(pid, pid);
    pid_ = pid;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      if (AcceptsConnections(port_)) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop(SIGKILL);
  }
  throw std::runtime_error("sshd did not start:\n" + LogText());
}

namespace {

// Each connection's sshd processes start a session of their own, out of the server's group, and
// rename themselves: they are found as the server's descendants.
void SignalDescendants(pid_t root, int signal) {
  std::vector<std::pair<pid_t, pid_t>> parents;  // pid, parent pid
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // "pid (comm) state ppid ...": comm may hold blanks, so read from its closing parenthesis.
    const std::string stat = ReadFile(entry.path() / "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    parents.emplace_back(std::stoi(name), parent);
  }
  std::vector<pid_t> found = {root};
  for (std::size_t i = 0; i < found.size(); ++i) {
    for (const auto& [pid, parent] : parents) {
      if (parent == found[i]) found.push_back(pid);
    }
  }
  for (const pid_t pid : found) kill(pid, signal);
}

}  // namespace

void SshServer::Stop(int signal) {
  if (pid_ > 0) {
    SignalDescendants(pid_, signal);
    kill(-pid_, signal);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
}

void SshServer::RemoveFolder() {
  if (dir_.empty()) return;
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
  dir_.clear();
}

void SshServer::Kill() { Stop(SIGKILL); }

std::string SshServer::LogText() const { return dir_.empty() ? "" : ReadFile(dir_ + "/sshd.log"); }

std::string SshServer::HostKeyFingerprint() const {
  const ProgramResult result =
      RunProgram({"/usr/bin/ssh-keygen", "-l", "-E", "sha256", "-f", hostKeyFile_ + ".pub"});
  // "256 SHA256:... comment (ED25519)"
  std::istringstream fields(result.out);
  std::string bits, fingerprint;
  fields >> bits >> fingerprint;
  if (result.status != 0 || fingerprint.rfind("SHA256:", 0) != 0)
    throw std::runtime_error("ssh-keygen -l failed: " + result.out);
  return fingerprint;
}

std::string SshServer::HostKey() const {
  std::string type = hostKeyFile_.substr(hostKeyFile_.rfind('_') + 1);
  for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return type + " " + HostKeyFingerprint();
}
