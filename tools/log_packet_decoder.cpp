#include "log_packet_decoder.h"

#include <cstdio>

namespace {

constexpr std::size_t kFixedPart = 220;

std::uint32_t Int(const std::uint8_t* block, std::size_t offset) {
  return block[offset] | block[offset + 1] << 8 | block[offset + 2] << 16 |
         static_cast<std::uint32_t>(block[offset + 3]) << 24;
}

// A text slot ends at its first zero byte or at the end of the slot, whichever comes first.
std::string Slot(const std::uint8_t* block, std::size_t offset, std::size_t size) {
  std::size_t n = 0;
  while (n < size && block[offset + n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(block + offset), n);
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

}  // namespace

std::optional<DecodedLogPacket> DecodeLogPacket(const std::uint8_t* block, std::size_t size) {
  if (!block || size < kFixedPart) return std::nullopt;
  DecodedLogPacket p;
  p.type = static_cast<std::int32_t>(Int(block, 0));
  p.timeOfDayMs = Int(block, 4);
  p.day = Int(block, 8);
  p.bias = static_cast<std::int32_t>(Int(block, 12));
  p.textLength = Int(block, 16);
  p.extraLength = Int(block, 20);
  p.sized = std::uint64_t{p.textLength} + p.extraLength + kFixedPart == size;
  p.processId = Int(block, 24);
  p.threadId = Int(block, 28);
  p.connectionId = Slot(block, 32, 42);
  p.computerName = Slot(block, 74, 16);
  p.applicationName = Slot(block, 90, 41);
  p.category = Slot(block, 131, 41);
  p.categoryColor = Int(block, 172);
  p.objectName = Slot(block, 176, 41);
  if (p.sized) p.text.assign(reinterpret_cast<const char*>(block + 217), p.textLength);
  return p;
}

std::string LogPacketRecordLine(std::uintptr_t dwData, const std::uint8_t* block, std::size_t size) {
  const std::optional<DecodedLogPacket> p = DecodeLogPacket(block, size);
  const std::string head = "dispatcher: ";
  const std::string sizes = "dwData=" + std::to_string(dwData) + " cbData=" + std::to_string(size);
  if (!p) return head + sizes + " short";
  char color[9];
  std::snprintf(color, sizeof color, "%08lX", static_cast<unsigned long>(p->categoryColor));
  return head + "type=" + std::to_string(p->type) + " " + sizes + " n=" + std::to_string(p->textLength) +
         " m=" + std::to_string(p->extraLength) + " size=" + (p->sized ? "ok" : "bad") +
         " pid=" + std::to_string(p->processId) + " tid=" + std::to_string(p->threadId) +
         " day=" + std::to_string(p->day) + " ms=" + std::to_string(p->timeOfDayMs) +
         " bias=" + std::to_string(p->bias) + " id=" + p->connectionId + " computer=" + p->computerName +
         " app=" + p->applicationName + " category=" + p->category + " color=" + color +
         " text=" + Escaped(p->text);
}
