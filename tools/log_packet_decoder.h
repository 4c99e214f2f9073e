#pragma once
// Reads a log packet as the dispatcher receives it. Portable, so that the stand-in dispatcher and
// the native checks of the packet read it the same way. The offsets are written out here rather
// than taken from the log client, so that a wrong offset there shows as a mismatch.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct DecodedLogPacket {
  std::int32_t type = 0;
  std::uint32_t timeOfDayMs = 0;
  std::uint32_t day = 0;
  std::int32_t bias = 0;
  std::uint32_t textLength = 0;   // n
  std::uint32_t extraLength = 0;  // m
  // Whether the block is exactly n + m + 220 bytes; the text is read only then.
  bool sized = false;
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;
  std::string connectionId;
  std::string computerName;
  std::string applicationName;
  std::string category;
  std::uint32_t categoryColor = 0;
  std::string objectName;
  std::string text;
};

// Nothing when the block is too short to hold the fixed part.
std::optional<DecodedLogPacket> DecodeLogPacket(const std::uint8_t* block, std::size_t size);

// The stand-in's record line for one WM_COPYDATA: "dispatcher: type=0 dwData=0 cbData=... text=...",
// the text last with backslash, CR and LF written as \\, \r and \n.
std::string LogPacketRecordLine(std::uintptr_t dwData, const std::uint8_t* block, std::size_t size);
