#include "mysql_live_win32.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace live {
namespace {

// Capability flags of the protocol.
constexpr std::uint32_t kLongPassword = 0x1;
constexpr std::uint32_t kLongFlag = 0x4;
constexpr std::uint32_t kProtocol41 = 0x200;
constexpr std::uint32_t kTransactions = 0x2000;
constexpr std::uint32_t kSecureConnection = 0x8000;
constexpr std::uint32_t kMultiResults = 0x20000;
constexpr std::uint32_t kPluginAuth = 0x80000;
constexpr std::uint16_t kMoreResultsExist = 0x0008;

constexpr std::uint8_t kComQuit = 0x01;
constexpr std::uint8_t kComQuery = 0x03;
constexpr std::uint8_t kLatin1 = 8;  // The plug-in's text is in the Windows ANSI code page.
constexpr std::size_t kMaxChunk = 0xFFFFFF;
constexpr const char* kNativePassword = "mysql_native_password";

std::string Environment(const char* name) {
  char value[4096];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::uint32_t Little(const std::string& data, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = value << 8 | (at + i < data.size() ? static_cast<std::uint8_t>(data[at + i]) : 0);
  return value;
}

void PutLittle(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xFF);
}

// A length-encoded integer at at, which moves past it.
std::uint64_t LengthEncoded(const std::string& data, std::size_t& at) {
  const std::uint8_t first = at < data.size() ? static_cast<std::uint8_t>(data[at]) : 0;
  ++at;
  int bytes = 0;
  if (first < 0xFB) return first;
  if (first == 0xFC) bytes = 2;
  if (first == 0xFD) bytes = 3;
  if (first == 0xFE) bytes = 8;
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = value << 8 | (at + i < data.size() ? static_cast<std::uint8_t>(data[at + i]) : 0);
  at += bytes;
  return value;
}

std::string NulTerminated(const std::string& data, std::size_t& at) {
  const std::size_t end = std::min(data.find('\0', at), data.size());
  std::string text = data.substr(std::min(at, data.size()), end - std::min(at, data.size()));
  at = end + 1;
  return text;
}

std::uint8_t Head(const std::string& packet) {
  return packet.empty() ? 0 : static_cast<std::uint8_t>(packet[0]);
}
// An EOF packet; a row may start with 0xFE too, but then it is at least 9 bytes long.
bool IsEof(const std::string& packet) { return Head(packet) == 0xFE && packet.size() < 9; }

std::uint16_t OkStatus(const std::string& packet) {
  std::size_t at = 1;
  LengthEncoded(packet, at);  // affected rows
  LengthEncoded(packet, at);  // last insert id
  return static_cast<std::uint16_t>(Little(packet, at, 2));
}

std::uint16_t EofStatus(const std::string& packet) {
  return static_cast<std::uint16_t>(Little(packet, 3, 2));
}

std::uint32_t Rotate(std::uint32_t value, int bits) { return value << bits | value >> (32 - bits); }

}  // namespace

bool Enabled() {
  const std::string value = Environment("SKORREL_MYSQL_LIVE");
  return !value.empty() && value != "0";
}

unsigned OptionFilePort(const std::string& group) {
  const std::string home = Environment("MYSQL_HOME");
  if (home.empty()) return 0;
  unsigned clientPort = 0;
  unsigned groupPort = 0;
  for (const char* name : {"\\my.ini", "\\my.cnf"}) {
    std::ifstream file(home + name);
    std::string line;
    std::string section;
    while (std::getline(file, line)) {
      line = Trim(line);
      if (line.empty() || line[0] == '#' || line[0] == ';') continue;
      if (line[0] == '[') {
        section = Trim(line.substr(1, line.find(']') - 1));
        continue;
      }
      const std::size_t equals = line.find('=');
      if (equals == std::string::npos || Trim(line.substr(0, equals)) != "port") continue;
      std::string value = Trim(line.substr(equals + 1));
      if (value.size() >= 2 && (value[0] == '"' || value[0] == '\''))
        value = value.substr(1, value.size() - 2);
      const unsigned port = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
      if (section == "client") clientPort = port;
      if (section == group && !group.empty()) groupPort = port;
    }
  }
  return groupPort ? groupPort : clientPort;
}

std::array<std::uint8_t, 20> Sha1(const std::string& data) {
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::string message = data;
  message += '\x80';
  while (message.size() % 64 != 56) message += '\0';
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  for (int i = 7; i >= 0; --i) message += static_cast<char>(bits >> (8 * i) & 0xFF);

  for (std::size_t block = 0; block < message.size(); block += 64) {
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
      w[i] = 0;
      for (int j = 0; j < 4; ++j) w[i] = w[i] << 8 | static_cast<std::uint8_t>(message[block + 4 * i + j]);
    }
    for (int i = 16; i < 80; ++i) w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
      std::uint32_t f, k;
      if (i < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (i < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (i < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      const std::uint32_t next = Rotate(a, 5) + f + e + k + w[i];
      e = d;
      d = c;
      c = Rotate(b, 30);
      b = a;
      a = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  std::array<std::uint8_t, 20> digest{};
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

std::string NativeScramble(const std::string& password, const std::string& salt) {
  if (password.empty()) return {};
  const auto AsText = [](const std::array<std::uint8_t, 20>& digest) {
    return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
  };
  const std::string once = AsText(Sha1(password));
  const std::string mask = AsText(Sha1(salt + AsText(Sha1(once))));
  std::string scramble(20, '\0');
  for (int i = 0; i < 20; ++i) scramble[i] = static_cast<char>(once[i] ^ mask[i]);
  return scramble;
}

bool Session::Fail(const std::string& error) {
  error_ = error;
  socket_.Close();
  return false;
}

bool Session::Lost() { return Fail("Lost connection to MySQL server at '" + host_ + "'"); }

bool Session::ServerError(const std::string& packet) {
  // 0xFF, the error number, then "#" and the five-character SQL state, then the text.
  std::size_t at = 3;
  if (packet.size() > at && packet[at] == '#') at += 6;
  error_ = packet.size() > at ? packet.substr(at) : std::string("Unknown MySQL error");
  return false;
}

bool Session::ReadPacket(std::string& payload) {
  payload.clear();
  for (;;) {
    char header[4];
    std::size_t length = 0;
    for (std::size_t got = 0; got < 4;) {
      const int n = recv(socket_.get(), header + got, static_cast<int>(4 - got), 0);
      if (n <= 0) return Lost();
      got += n;
    }
    length = Little(std::string(header, 3), 0, 3);
    sequence_ = static_cast<std::uint8_t>(header[3] + 1);
    const std::size_t start = payload.size();
    payload.resize(start + length);
    for (std::size_t got = 0; got < length;) {
      const int n = recv(socket_.get(), &payload[start + got], static_cast<int>(length - got), 0);
      if (n <= 0) return Lost();
      got += n;
    }
    // A payload of the largest size continues in the next packet.
    if (length < kMaxChunk) return true;
  }
}

bool Session::WritePacket(const std::string& payload) {
  std::size_t at = 0;
  for (;;) {
    const std::size_t length = std::min(payload.size() - at, kMaxChunk);
    std::string packet;
    PutLittle(packet, static_cast<std::uint32_t>(length), 3);
    packet += static_cast<char>(sequence_++);
    packet.append(payload, at, length);
    for (std::size_t sent = 0; sent < packet.size();) {
      const int n = send(socket_.get(), packet.data() + sent, static_cast<int>(packet.size() - sent), 0);
      if (n <= 0) return Lost();
      sent += n;
    }
    at += length;
    if (length < kMaxChunk) return true;
  }
}

bool Session::Connect(const std::string& host, unsigned port) {
  if (!winsock_.ok()) return Fail("Winsock could not be started");
  const std::string cannotConnect = "Can't connect to MySQL server on '" + host + "'";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
    return Fail("Unknown MySQL server host '" + host + "' (" + std::to_string(WSAGetLastError()) + ")");
  int lastError = 0;
  for (addrinfo* address = found; address && !socket_.valid(); address = address->ai_next) {
    socket_.Reset(socket(address->ai_family, address->ai_socktype, address->ai_protocol));
    if (socket_.valid() &&
        connect(socket_.get(), address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
      lastError = WSAGetLastError();
      socket_.Close();
    }
  }
  freeaddrinfo(found);
  if (!socket_.valid()) return Fail(cannotConnect + " (" + std::to_string(lastError) + ")");
  // A server that stops answering must not hold the worker for ever.
  const DWORD timeoutMs = 30000;
  setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
             sizeof timeoutMs);
  setsockopt(socket_.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs),
             sizeof timeoutMs);
  return true;
}

bool Session::Authenticate(const std::string& user, const std::string& password) {
  std::string greeting;
  if (!ReadPacket(greeting)) return false;
  if (Head(greeting) == 0xFF) {
    ServerError(greeting);
    return Fail(error_);
  }
  if (Head(greeting) != 10) return Fail("Unsupported protocol version " + std::to_string(Head(greeting)));

  std::size_t at = 1;
  serverVersion_ = NulTerminated(greeting, at);
  // MariaDB puts "5.5.5-" before its real version for the sake of old replicas; its own client
  // drops it, and so does this one.
  const std::string oldReplicaPrefix = "5.5.5-";
  if (serverVersion_.compare(0, oldReplicaPrefix.size(), oldReplicaPrefix) == 0 &&
      serverVersion_.find("MariaDB") != std::string::npos)
    serverVersion_.erase(0, oldReplicaPrefix.size());
  at += 4;  // connection id
  std::string salt = greeting.substr(std::min(at, greeting.size()), 8);
  at += 9;  // first part of the salt and a filler byte
  std::uint32_t serverFlags = Little(greeting, at, 2);
  at += 2;
  if (greeting.size() > at) {
    at += 3;  // character set and status
    serverFlags |= Little(greeting, at, 2) << 16;
    at += 2;
    const std::size_t saltLength = static_cast<std::uint8_t>(greeting[std::min(at, greeting.size() - 1)]);
    at += 11;  // salt length and ten reserved bytes
    if (serverFlags & kSecureConnection) {
      const std::size_t rest = std::max<std::size_t>(13, saltLength > 8 ? saltLength - 8 : 0);
      salt += greeting.substr(std::min(at, greeting.size()), rest - 1);  // without its final NUL
    }
  }
  if (!(serverFlags & kProtocol41)) return Fail("The server is too old: it does not speak protocol 4.1");

  const std::uint32_t flags = (kLongPassword | kLongFlag | kProtocol41 | kTransactions | kSecureConnection |
                               kMultiResults | kPluginAuth) &
                              (serverFlags | kProtocol41);
  std::string response;
  PutLittle(response, flags, 4);
  PutLittle(response, 16 * 1024 * 1024, 4);
  response += static_cast<char>(kLatin1);
  response.append(23, '\0');
  response += user;
  response += '\0';
  const std::string scramble = NativeScramble(password, salt.substr(0, 20));
  response += static_cast<char>(scramble.size());
  response += scramble;
  if (flags & kPluginAuth) {
    response += kNativePassword;
    response += '\0';
  }
  if (!WritePacket(response)) return false;

  for (;;) {
    std::string reply;
    if (!ReadPacket(reply)) return false;
    if (Head(reply) == 0x00) return true;
    if (Head(reply) == 0xFF) {
      ServerError(reply);
      return Fail(error_);
    }
    if (Head(reply) != 0xFE) return Fail("Unexpected answer to the login");
    // The server asks for another method; only the native password is known here.
    std::size_t pos = 1;
    const std::string plugin = NulTerminated(reply, pos);
    if (plugin != kNativePassword)
      return Fail("Authentication plugin '" + plugin + "' cannot be loaded: only " + kNativePassword +
                  " is supported");
    std::string newSalt = reply.substr(std::min(pos, reply.size()));
    if (!newSalt.empty() && newSalt.back() == '\0') newSalt.pop_back();
    if (!WritePacket(NativeScramble(password, newSalt.substr(0, 20)))) return false;
  }
}

bool Session::Open(const std::string& host, unsigned port, const std::string& user,
                   const std::string& password) {
  host_ = host;
  error_.clear();
  return Connect(host, port) && Authenticate(user, password);
}

bool Session::Query(const std::string& sql) {
  if (!socket_.valid()) return Fail("MySQL server has gone away");
  error_.clear();
  sequence_ = 0;
  if (!WritePacket(std::string(1, static_cast<char>(kComQuery)) + sql)) return false;
  for (;;) {
    std::string packet;
    if (!ReadPacket(packet)) return false;
    std::uint16_t status = 0;
    if (Head(packet) == 0xFF) return ServerError(packet);
    if (Head(packet) == 0x00) {
      status = OkStatus(packet);
    } else if (Head(packet) == 0xFB) {
      // LOAD DATA LOCAL: there is no file to send, so send none; the server answers OK or ERR.
      if (!WritePacket(std::string())) return false;
      continue;
    } else {
      // A result set: column definitions to an EOF, then rows to an EOF or an error.
      do {
        if (!ReadPacket(packet)) return false;
      } while (!IsEof(packet));
      for (;;) {
        if (!ReadPacket(packet)) return false;
        if (Head(packet) == 0xFF) return ServerError(packet);
        if (IsEof(packet)) break;
      }
      status = EofStatus(packet);
    }
    if (!(status & kMoreResultsExist)) return true;
  }
}

void Session::Quit() {
  if (socket_.valid()) {
    sequence_ = 0;
    WritePacket(std::string(1, static_cast<char>(kComQuit)));
  }
  socket_.Close();
}

}  // namespace live
