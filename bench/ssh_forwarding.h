#pragma once
// What the tunnel benchmark runs besides our own tunnel: one OpenSSH server that takes both the
// tunnel's password login and a throw-away client key, and OpenSSH's own `ssh -L` processes
// logged in with that key. Both stop with their objects, and with the benchmark if it dies.
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// What sshd logged that a connection agreed on.
struct Negotiated {
  std::string kex;
  std::string cipher;
  std::string mac;  // empty for the AEAD ciphers, which carry their own
};

class BenchSshd {
 public:
  BenchSshd();
  ~BenchSshd();
  BenchSshd(const BenchSshd&) = delete;
  BenchSshd& operator=(const BenchSshd&) = delete;

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  const std::string& Folder() const { return dir_; }
  // The private half of the key authorized for the test user.
  std::string ClientKey() const { return dir_ + "/client_ed25519"; }
  // A program that prints the test user's password, for ssh's SSH_ASKPASS.
  std::string AskPass() const { return dir_ + "/askpass"; }
  // The algorithms of the latest connection sshd logged.
  Negotiated LastNegotiated() const;

 private:
  void Start();
  void Stop();

  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// The test user sshd lets in, with the password our tunnel logs in with.
const char* BenchSshUser();
const char* BenchSshPassword();

struct ForwardOptions {
  std::string cipher;
  std::string mac;  // empty: ssh's default
  std::string kex = "curve25519-sha256";
  // Password login, as our tunnel does, instead of the key.
  bool password = false;
};

// `ssh -N -L` forwarding a fresh local port to each target port on 127.0.0.1, as the sshd's test
// user. The constructor returns once every forwarded port listens, so timing it times what a
// user waits for before the first connection.
class SshForward {
 public:
  SshForward(const BenchSshd& sshd, const ForwardOptions& options, const std::vector<int>& targetPorts);
  ~SshForward();
  SshForward(const SshForward&) = delete;
  SshForward& operator=(const SshForward&) = delete;

  int LocalPort(std::size_t i) const { return localPorts_.at(i); }
  pid_t Pid() const { return pid_; }

 private:
  std::vector<int> localPorts_;
  pid_t pid_ = -1;
};

// How long one check of the test user's password takes here, as sshd does it for every password
// login (crypt with the account's hash); 0 if it cannot be checked.
double PasswordCheckSeconds();

// User and system CPU seconds of a process and of each descendant alive now, by process.
using CpuByProcess = std::map<pid_t, double>;
CpuByProcess ProcessTreeCpu(pid_t root);
// What the processes alive at the second sample spent since the first; a process that ended
// between the two would otherwise count as negative.
double CpuSpent(const CpuByProcess& before, const CpuByProcess& after);
// Ends a process and every descendant alive now, then reaps the root if it is our child.
void KillProcessTree(pid_t root);
