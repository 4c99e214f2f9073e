// A small MySQL/MariaDB client over Winsock, for the stand-in client library's live mode: enough
// of the client/server protocol to log in with mysql_native_password and run statements.
#pragma once

#include <winsock2.h>

#include <array>
#include <cstdint>
#include <string>

namespace live {

// True when SKORREL_MYSQL_LIVE asks the stand-in to talk to a real server.
bool Enabled();

// The port= of the option group, read from %MYSQL_HOME%\my.ini and my.cnf; [client] first, the
// named group wins over it. 0 when neither names one.
unsigned OptionFilePort(const std::string& group);

std::array<std::uint8_t, 20> Sha1(const std::string& data);

// The mysql_native_password answer to the server's 20-byte salt; empty for an empty password.
std::string NativeScramble(const std::string& password, const std::string& salt);

// Owns one Winsock start-up, so every connection leaves Winsock as it found it.
class Winsock {
 public:
  Winsock() : ok_(WSAStartup(MAKEWORD(2, 2), &data_) == 0) {}
  ~Winsock() {
    if (ok_) WSACleanup();
  }
  Winsock(const Winsock&) = delete;
  Winsock& operator=(const Winsock&) = delete;
  bool ok() const { return ok_; }

 private:
  WSADATA data_{};
  bool ok_;
};

class Socket {
 public:
  Socket() = default;
  ~Socket() { Close(); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  void Reset(SOCKET socket) {
    Close();
    socket_ = socket;
  }
  void Close() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }
  SOCKET get() const { return socket_; }
  bool valid() const { return socket_ != INVALID_SOCKET; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

// One logged-in connection to a server. Every failing call leaves its text in Error().
class Session {
 public:
  bool Open(const std::string& host, unsigned port, const std::string& user, const std::string& password);
  // Runs one statement; any result set is read and dropped.
  bool Query(const std::string& sql);
  // Says goodbye to the server and closes the socket; harmless when not open.
  void Quit();

  const std::string& Error() const { return error_; }
  const std::string& ServerVersion() const { return serverVersion_; }

 private:
  bool Connect(const std::string& host, unsigned port);
  bool Authenticate(const std::string& user, const std::string& password);
  bool ReadPacket(std::string& payload);
  bool WritePacket(const std::string& payload);
  bool Fail(const std::string& error);
  bool ServerError(const std::string& packet);
  bool Lost();

  Winsock winsock_;
  Socket socket_;
  std::uint8_t sequence_ = 0;
  std::string host_;
  std::string error_;
  std::string serverVersion_;
};

}  // namespace live
