#pragma once
// A MariaDB server of the tests' own, and the option file that points the client library at it.
//
// The wrapper always connects to the library's default port and asks it to read the option group
// "kivNormal"; the tests aim it with that group, in a my.cnf in a folder named by MYSQL_HOME, just
// as a user aims the plug-in at a server on another port.
#include <string>
#include <vector>

#include "hex.h"

// The process's client option file. The library reads MYSQL_HOME when it starts, so the first use
// of this comes before the first connection (it restarts the library if it was loaded already).
class ClientOptions {
 public:
  static ClientOptions& Get();
  // Writes [kivNormal] with this port; later connections read it. Returns the port it replaces.
  int SetPort(int port);

 private:
  ClientOptions();
  ~ClientOptions();
  std::string dir_;
  int port_ = 0;
};

// Aims the client at another port for one test, then back.
class ClientPortSwap {
 public:
  explicit ClientPortSwap(int port) : previous_(ClientOptions::Get().SetPort(port)) {}
  ~ClientPortSwap() { ClientOptions::Get().SetPort(previous_); }
  ClientPortSwap(const ClientPortSwap&) = delete;
  ClientPortSwap& operator=(const ClientPortSwap&) = delete;

 private:
  int previous_;
};

// A port on 127.0.0.1 that nothing listened on a moment ago.
int FreeLoopbackPort();
// Whether a server accepts connections on 127.0.0.1:port.
bool AcceptsConnections(int port);

// A whole file's bytes, written or read; writing throws when it fails, reading gives what is there.
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// What a program printed on standard output and how it ended.
struct ProgramResult {
  int status = -1;
  std::string out;
};
ProgramResult RunProgram(const std::vector<std::string>& argv);

// A fresh server in a temporary folder, on 127.0.0.1 and a free port, with the database `tolby`,
// the table `winamp_played` (`id`, `fulltitle`) and the user skorrel. Started at first use by a test
// process and stopped when the process ends, or killed with it if it dies.
class MariaDBServer {
 public:
  static MariaDBServer& Shared();

  int Port() const { return port_; }
  static constexpr const char* kUser = "skorrel";
  static constexpr const char* kPassword = "s3cret'pw";

  // Runs statements as skorrel with the mariadb client; each row comes back as one line, columns
  // separated by tabs. Throws when the client fails.
  std::vector<std::string> Rows(const std::string& sql) const;
  // The table's fulltitle values in insertion order, hex-encoded so that any byte compares exactly.
  std::vector<std::string> StoredTitlesHex() const;
  void EmptyTable() const;

 private:
  MariaDBServer();
  ~MariaDBServer();
  void Start();
  // Stops the server and removes its folder.
  void Stop();
  void StopProcess();

  std::string dir_;
  int port_ = 0;
  int pid_ = -1;
};
