#include "diag/CSIntf.h"

#include <algorithm>
#include <cstdio>

namespace {

void PutInt(std::vector<std::uint8_t>& block, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) block[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Leaves at least one zero byte at the end of the slot.
void PutText(std::vector<std::uint8_t>& block, std::size_t offset, std::size_t slotSize,
             std::string_view text) {
  // std::copy, not memcpy: an empty view may hold a null pointer, which memcpy must not be given.
  const std::size_t n = std::min(text.size(), slotSize - 1);
  std::copy_n(text.begin(), n, block.begin() + static_cast<std::ptrdiff_t>(offset));
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::vector<std::uint8_t> BuildPacket(const CSPacket& packet) {
  namespace p = cs_packet;
  std::string_view text = packet.text;
  if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") text.remove_suffix(2);

  std::vector<std::uint8_t> block(text.size() + p::kOverhead, 0);
  PutInt(block, p::kType, static_cast<std::uint32_t>(packet.type));
  PutInt(block, p::kTimeOfDay, static_cast<std::uint32_t>(packet.timeOfDayMs));
  PutInt(block, p::kDay, static_cast<std::uint32_t>(packet.day));
  PutInt(block, p::kBias, static_cast<std::uint32_t>(packet.bias));
  PutInt(block, p::kTextLength, static_cast<std::uint32_t>(text.size()));
  PutInt(block, p::kExtraLength, 0);
  PutInt(block, p::kProcessId, packet.processId);
  PutInt(block, p::kThreadId, packet.threadId);
  PutText(block, p::kConnectionId, p::kConnectionIdSize, packet.connectionId);
  PutText(block, p::kComputerName, p::kComputerNameSize, packet.computerName);
  PutText(block, p::kApplicationName, p::kApplicationNameSize, packet.applicationName);
  PutText(block, p::kCategory, p::kCategorySize, packet.category);
  PutInt(block, p::kCategoryColor, packet.categoryColor);
  PutText(block, p::kObjectName, p::kObjectNameSize, packet.objectName);
  std::copy(text.begin(), text.end(), block.begin() + p::kText);
  return block;
}

std::int32_t DayNumber(int year, int month, int day) {
  static constexpr int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const int y = year - 1;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return y * 365 + y / 4 - y / 100 + y / 400 + kDaysBefore[(month - 1) % 12] + (leap && month > 2 ? 1 : 0) +
         day;
}

std::int32_t MillisecondsOfDay(const LocalDateTime& t) {
  return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

std::string GuidToString(const Guid& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2],
                g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

std::string ComputerNameSlot(const std::optional<std::string>& name) {
  if (!name || name->size() >= cs_packet::kComputerNameSize) return {};
  return *name;
}

std::string ApplicationNameFromPath(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/:");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name.substr(0, cs_packet::kApplicationNameSize - 1));
}

TCodeSite::TCodeSite(std::shared_ptr<LogPlatform> platform)
    : platform_(std::move(platform)), bias_(platform_->TimeZoneBias()) {}

TCodeSite::~TCodeSite() {
  try {
    std::lock_guard lock(mutex_);
    CloseConnection();
  } catch (...) {
    // A close packet that cannot be sent is of no interest to anyone.
  }
}

std::string TCodeSite::DestinationDetails() const {
  std::lock_guard lock(mutex_);
  return destination_;
}

void TCodeSite::SetDestinationDetails(const std::string& destination) {
  std::lock_guard lock(mutex_);
  if (EqualIgnoringCase(destination, destination_)) return;
  CloseConnection();
  destination_ = destination;
  OpenConnection();
}

void TCodeSite::SendText(std::string_view text) {
  if (!Enabled()) return;
  std::lock_guard lock(mutex_);
  SendPacket(CSMessageType::Text, text);
}

std::string TCodeSite::ConnectionId() const {
  std::lock_guard lock(mutex_);
  return connectionId_;
}

std::string TCodeSite::OpenText() const { return destination_.empty() ? "Viewer" : destination_; }

bool TCodeSite::SendPacket(CSMessageType type, std::string_view text) {
  const LocalDateTime now = platform_->Now();

  HostWindow window = platform_->FindTopLevelWindow(kDispatcherClass, kDispatcherCaption);
  // Once a failure has switched the client off, no further start is attempted: the dispatcher
  // would be started twice for the one line that found it missing.
  if (window == 0 && type != CSMessageType::CloseConnection && Enabled()) {
    std::string command = platform_->DispatcherPath();
    if (command.empty()) command = kDispatcherDefaultCommand;
    const std::optional<HostWindow> started = platform_->StartAndFindWindow(command, kDispatcherCaption);
    if (!started) {
      SetEnabled(false);
    } else {
      window = *started;
      if (connectionId_.empty()) OpenConnection();
    }
  }

  if (connectionId_.empty()) {
    OpenConnection();
  } else if (!opening_ && window != 0 && window != dispatcher_) {
    // A new dispatcher window: the dispatcher was restarted and knows nothing of this connection.
    opening_ = true;
    dispatcher_ = window;
    SendPacket(CSMessageType::OpenConnection, OpenText());
    opening_ = false;
  }
  dispatcher_ = window;

  // No window means nobody to accept the packet, as a message to a null window is refused.
  if (window == 0) return false;
  CSPacket packet;
  packet.type = type;
  packet.timeOfDayMs = MillisecondsOfDay(now);
  packet.day = DayNumber(now.year, now.month, now.day);
  packet.bias = bias_;
  packet.processId = platform_->ProcessId();
  packet.threadId = platform_->ThreadId();
  packet.connectionId = connectionId_;
  packet.computerName = computerName_;
  packet.applicationName = applicationName_;
  const std::string encoded = platform_->PacketText(text);
  packet.text = encoded;
  return platform_->SendCopyData(window, static_cast<std::uintptr_t>(type), BuildPacket(packet)) != 0;
}

void TCodeSite::OpenConnection() {
  opening_ = true;
  if (connectionId_.empty()) {
    if (const std::optional<Guid> guid = platform_->NewGuid()) {
      connectionId_ = GuidToString(*guid);
      if (!SendPacket(CSMessageType::OpenConnection, OpenText())) SetEnabled(false);
    }
  }
  if (!namesFetched_) {
    computerName_ = ComputerNameSlot(platform_->ComputerName());
    applicationName_ = ApplicationNameFromPath(platform_->ExecutablePath());
    namesFetched_ = true;
  }
  if (connectionId_.empty()) SetEnabled(false);
  opening_ = false;
}

void TCodeSite::CloseConnection() {
  if (connectionId_.empty()) return;
  SendPacket(CSMessageType::CloseConnection, "");
  connectionId_.clear();
}
