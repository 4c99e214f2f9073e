#include "native/mariadb/mariadb_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "database/mysql.h"
#include "runtime/handle.h"

namespace fs = std::filesystem;

namespace {

struct FdTraits {
  using pointer = int;
  static int invalid() { return -1; }
  static void close(int fd) { ::close(fd); }
};
using unique_fd = unique_handle<FdTraits>;

std::string MakeTempDir(const char* prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + ".XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

// As root the server must run as the mysql account, which then also owns its folder.
struct ServerAccount {
  bool root = geteuid() == 0;
  uid_t uid = 0;
  gid_t gid = 0;
  ServerAccount() {
    if (!root) return;
    const passwd* account = getpwnam("mysql");
    if (!account) throw std::runtime_error("no mysql account (is mariadb-server installed?)");
    uid = account->pw_uid;
    gid = account->pw_gid;
  }
};

}  // namespace

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool AcceptsConnections(int port) {
  unique_fd fd(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

ClientOptions& ClientOptions::Get() {
  static ClientOptions options;
  return options;
}

ClientOptions::ClientOptions() : dir_(MakeTempDir("skorrel-client")) {
  // Both names, since the library prefers MARIADB_HOME when it is set.
  setenv("MARIADB_HOME", dir_.c_str(), 1);
  setenv("MYSQL_HOME", dir_.c_str(), 1);
  // A library started before this has read its folders already.
  UnloadMySQLLibrary();
}

ClientOptions::~ClientOptions() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

int ClientOptions::SetPort(int port) {
  // With the character-set line that older advice had users write: the wrapper must override it.
  WriteFile(dir_ + "/my.cnf",
            "[kivNormal]\nport=" + std::to_string(port) + "\ndefault-character-set=latin1\n");
  return std::exchange(port_, port);
}

int FreeLoopbackPort() {
  unique_fd fd(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no free port");
  return ntohs(address.sin_port);
}

ProgramResult RunProgram(const std::vector<std::string>& command) {
  std::vector<std::string> args = command;
  std::vector<char*> argv = Argv(args);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  unique_fd readEnd(pipeFds[0]);
  unique_fd writeEnd(pipeFds[1]);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(writeEnd.get(), STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  writeEnd.reset();
  ProgramResult result;
  char buffer[4096];
  for (ssize_t n; (n = read(readEnd.get(), buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    result.out.append(buffer, static_cast<std::size_t>(n));
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

MariaDBServer& MariaDBServer::Shared() {
  static MariaDBServer server;
  return server;
}

MariaDBServer::MariaDBServer() {
  try {
    Start();
  } catch (...) {
    Stop();
    throw;
  }
}

MariaDBServer::~MariaDBServer() { Stop(); }

void MariaDBServer::Start() {
  ClientOptions& options = ClientOptions::Get();
  const ServerAccount account;
  dir_ = MakeTempDir("skorrel-mariadb");
  chmod(dir_.c_str(), 0755);
  if (account.root && chown(dir_.c_str(), account.uid, account.gid) != 0)
    throw std::runtime_error("cannot hand " + dir_ + " to the mysql account");
  const std::string data = dir_ + "/data";

  // A temporary folder of its own: a starting server clears every "#sql" file in its tmpdir, which
  // would pull tables from under a neighbour's server.
  const std::string tmp = dir_ + "/tmp";
  fs::create_directory(tmp);
  if (account.root && chown(tmp.c_str(), account.uid, account.gid) != 0)
    throw std::runtime_error("cannot hand " + tmp + " to the mysql account");
  std::vector<std::string> install = {"/usr/bin/mariadb-install-db",
                                      "--no-defaults",
                                      "--datadir=" + data,
                                      "--tmpdir=" + tmp,
                                      "--skip-test-db",
                                      "--innodb-log-file-size=4M"};
  if (account.root) install.push_back("--user=mysql");
  const ProgramResult installed = RunProgram(install);
  if (installed.status != 0) throw std::runtime_error("mariadb-install-db failed:\n" + installed.out);

  WriteFile(dir_ + "/init.sql",
            "CREATE DATABASE tolby;\n"
            "CREATE TABLE tolby.winamp_played (id INT AUTO_INCREMENT PRIMARY KEY, "
            "fulltitle VARBINARY(4096) NOT NULL);\n"
            "CREATE USER 'skorrel'@'127.0.0.1' IDENTIFIED BY 's3cret\\'pw';\n"
            "GRANT ALL ON tolby.* TO 'skorrel'@'127.0.0.1';\n"
            // For the tests that change the server's SQL mode.
            "GRANT SUPER ON *.* TO 'skorrel'@'127.0.0.1';\n");
  chmod((dir_ + "/init.sql").c_str(), 0644);

  // The port was free a moment ago; if someone takes it first the server dies and we try another.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeLoopbackPort();
    std::vector<std::string> args = {"/usr/sbin/mariadbd",
                                     "--no-defaults",
                                     "--datadir=" + data,
                                     "--tmpdir=" + tmp,
                                     "--port=" + std::to_string(port_),
                                     "--bind-address=127.0.0.1",
                                     "--socket=" + dir_ + "/sock",
                                     "--skip-name-resolve",
                                     "--innodb-log-file-size=4M",
                                     "--innodb-buffer-pool-size=16M",
                                     "--init-file=" + dir_ + "/init.sql",
                                     "--log-error=" + dir_ + "/server.log"};
    if (account.root) args.push_back("--user=mysql");
    std::vector<char*> argv = Argv(args);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      // The account change would clear the death signal, so it comes first: a test process that
      // dies takes its server with it.
      if (account.root &&
          (setgroups(0, nullptr) != 0 || setgid(account.gid) != 0 || setuid(account.uid) != 0))
        _exit(126);
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(125);
      // Its notes belong in its log, not in the test's output.
      const int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, STDOUT_FILENO);
      dup2(quiet, STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    pid_ = pid;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      if (AcceptsConnections(port_)) {
        options.SetPort(port_);
        Rows("SELECT 1");  // the init file has run once a statement is answered
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    StopProcess();
  }
  std::ifstream log(dir_ + "/server.log");
  std::stringstream text;
  text << log.rdbuf();
  throw std::runtime_error("mariadbd did not start:\n" + text.str());
}

void MariaDBServer::Stop() {
  StopProcess();
  if (!dir_.empty()) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    dir_.clear();
  }
}

void MariaDBServer::StopProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
}

std::vector<std::string> MariaDBServer::Rows(const std::string& sql) const {
  const ProgramResult result = RunProgram(
      {"/usr/bin/mariadb", "--no-defaults", "--protocol=TCP", "--host=127.0.0.1",
       "--port=" + std::to_string(port_), std::string("--user=") + kUser,
       std::string("--password=") + kPassword, "--batch", "--skip-column-names", "--execute=" + sql});
  if (result.status != 0) throw std::runtime_error("mariadb client failed on: " + sql);
  std::vector<std::string> rows;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  return rows;
}

std::vector<std::string> MariaDBServer::StoredTitlesHex() const {
  return Rows("SELECT HEX(fulltitle) FROM tolby.winamp_played ORDER BY id");
}

void MariaDBServer::EmptyTable() const { Rows("TRUNCATE TABLE tolby.winamp_played"); }
