#pragma once
// An OpenSSH server of the tests' own: sshd on 127.0.0.1 and a free port, run from a temporary
// folder with its own configuration and host key, with password login for a dedicated test user
// and TCP forwarding on. Started by the constructor, stopped (and its folder removed) by the
// destructor, or killed with the test process if that dies.
#include <string>

class SshServer {
 public:
  struct Options {
    // Only keyboard-interactive login, through PAM, as some servers are set up.
    bool keyboardInteractiveOnly = false;
    // ssh-keygen's name of the host key's type.
    std::string hostKeyType = "ed25519";
    // When set, the public keys that may log in, and key login only.
    std::string authorizedKeys;
  };
  SshServer();
  explicit SshServer(Options options);
  ~SshServer();
  SshServer(const SshServer&) = delete;
  SshServer& operator=(const SshServer&) = delete;

  static constexpr const char* kUser = "skorrelssh";
  static constexpr const char* kPassword = "tunnel pw'1";

  // The test user with its password, made once per machine.
  static void EnsureTestUser();

  int Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }
  // The host key's fingerprint as "ssh-keygen -l -E sha256" prints it: "SHA256:...".
  std::string HostKeyFingerprint() const;
  // The same with its type as the plug-in names it: "ED25519 SHA256:...".
  std::string HostKey() const;
  // Kills sshd and every session process it started, at once.
  void Kill();
  std::string LogText() const;

 private:
  void Start(const Options& options);
  void Stop(int signal);
  void RemoveFolder();

  std::string dir_;
  std::string hostKeyFile_;
  int port_ = 0;
  int pid_ = -1;
};
