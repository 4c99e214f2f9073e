#pragma once
// The log client: hands each line, as one packet in a WM_COPYDATA message, to the log dispatcher
// program on this machine, which routes it to the viewer. The client finds the dispatcher, starts
// it when it is missing, and opens and closes its connection with it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/platform.h"

enum class CSMessageType : std::int32_t { Text = 0, OpenConnection = 41, CloseConnection = 42 };

constexpr const char* kDispatcherClass = "TFrmDispatcher";
constexpr const char* kDispatcherCaption = "CodeSite Dispatcher";
constexpr const char* kDispatcherDefaultCommand = "CSDispatcher.exe";
// clWindow, the system window colour.
constexpr std::uint32_t kCategoryColor = 0xFF000005;

// Where each field of a packet lies; every integer is 32-bit little-endian and every text is
// zero-terminated inside its fixed slot.
namespace cs_packet {
constexpr std::size_t kType = 0;
constexpr std::size_t kTimeOfDay = 4;
constexpr std::size_t kDay = 8;
constexpr std::size_t kBias = 12;
constexpr std::size_t kTextLength = 16;
constexpr std::size_t kExtraLength = 20;
constexpr std::size_t kProcessId = 24;
constexpr std::size_t kThreadId = 28;
constexpr std::size_t kConnectionId = 32;
constexpr std::size_t kConnectionIdSize = 42;
constexpr std::size_t kComputerName = 74;
constexpr std::size_t kComputerNameSize = 16;
constexpr std::size_t kApplicationName = 90;
constexpr std::size_t kApplicationNameSize = 41;
constexpr std::size_t kCategory = 131;
constexpr std::size_t kCategorySize = 41;
constexpr std::size_t kCategoryColor = 172;
constexpr std::size_t kObjectName = 176;
constexpr std::size_t kObjectNameSize = 41;
constexpr std::size_t kText = 217;
// Header, the zero after text and extra data, and two spare zero bytes.
constexpr std::size_t kOverhead = 220;
}  // namespace cs_packet

struct CSPacket {
  CSMessageType type = CSMessageType::Text;
  std::int32_t timeOfDayMs = 0;
  std::int32_t day = 0;
  std::int32_t bias = 0;
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;
  std::string_view connectionId;
  std::string_view computerName;
  std::string_view applicationName;
  std::string_view category;
  std::uint32_t categoryColor = kCategoryColor;
  std::string_view objectName;
  std::string_view text;
};

// The block as the dispatcher reads it. A text ending in CR LF goes without that pair.
std::vector<std::uint8_t> BuildPacket(const CSPacket& packet);

struct LocalDateTime {
  int year = 1, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};
// 1 January of year 1 is day 1 (proleptic Gregorian calendar).
std::int32_t DayNumber(int year, int month, int day);
std::int32_t MillisecondsOfDay(const LocalDateTime& time);

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0, data3 = 0;
  std::uint8_t data4[8] = {};
};
// Registry form: "{" 8-4-4-4-12 upper-case hexadecimal digits "}".
std::string GuidToString(const Guid& guid);

// What the computer-name query with a 16-byte buffer leaves: a longer name makes it fail.
std::string ComputerNameSlot(const std::optional<std::string>& name);
// The executable's file name without directory and extension, cut to 40 characters.
std::string ApplicationNameFromPath(std::string_view path);

// Everything the client needs of the system.
class LogPlatform {
 public:
  virtual ~LogPlatform() = default;
  virtual LocalDateTime Now() = 0;
  // Minutes; UTC = local time + bias.
  virtual std::int32_t TimeZoneBias() = 0;
  // Nothing when no GUID can be made.
  virtual std::optional<Guid> NewGuid() = 0;
  // The machine's name, whatever its length; nothing when the query fails.
  virtual std::optional<std::string> ComputerName() = 0;
  virtual std::string ExecutablePath() = 0;
  virtual std::uint32_t ProcessId() = 0;
  virtual std::uint32_t ThreadId() = 0;
  // A top-level window of that class and caption, or 0.
  virtual HostWindow FindTopLevelWindow(const std::string& className, const std::string& caption) = 0;
  // Sends WM_COPYDATA synchronously (wParam 0) and returns the message's result.
  virtual LResult SendCopyData(HostWindow window, std::uintptr_t dwData,
                               const std::vector<std::uint8_t>& block) = 0;
  // A UTF-8 line in the packet's encoding, which the dispatcher reads as ANSI; left as it is where
  // the two are the same.
  virtual std::string PacketText(std::string_view utf8) { return std::string(utf8); }
  // The "DispatcherPath" value of the dispatcher's local-machine key; empty when missing.
  virtual std::string DispatcherPath() = 0;
  // Starts commandLine in the normal window state, waits until it is idle for input and returns the
  // first parentless window of its main thread with exactly that caption (0 when there is none).
  // Nothing when the process cannot be started.
  virtual std::optional<HostWindow> StartAndFindWindow(const std::string& commandLine,
                                                       const std::string& caption) = 0;
};

// Any thread may call any member at any time; one lock keeps the connection state consistent. The
// lock is recursive because a thread blocked in the synchronous send may be handed a window message
// whose handler logs again.
class TCodeSite {
 public:
  explicit TCodeSite(std::shared_ptr<LogPlatform> platform);
  TCodeSite(const TCodeSite&) = delete;
  TCodeSite& operator=(const TCodeSite&) = delete;
  // Closes the connection, if one is open.
  virtual ~TCodeSite();

  bool Enabled() const noexcept { return enabled_.load(std::memory_order_relaxed); }
  void SetEnabled(bool enabled) noexcept { enabled_.store(enabled, std::memory_order_relaxed); }

  std::string DestinationDetails() const;
  // Text equal to the current one, ignoring case, changes nothing; any other closes the open
  // connection, stores the text and opens a connection with it.
  void SetDestinationDetails(const std::string& destination);

  // One text packet, when enabled; a refused packet is dropped.
  void SendText(std::string_view text);

  std::string ConnectionId() const;

 private:
  // Returns whether the dispatcher accepted the packet.
  bool SendPacket(CSMessageType type, std::string_view text);
  void OpenConnection();
  void CloseConnection();
  std::string OpenText() const;

  const std::shared_ptr<LogPlatform> platform_;
  std::atomic<bool> enabled_{true};
  const std::int32_t bias_;

  mutable std::recursive_mutex mutex_;
  std::string destination_;
  std::string connectionId_;
  bool namesFetched_ = false;
  std::string computerName_;
  std::string applicationName_;
  HostWindow dispatcher_ = 0;
  bool opening_ = false;
};

// The client class the plug-in creates.
class TCSObject final : public TCodeSite {
 public:
  using TCodeSite::TCodeSite;
};
