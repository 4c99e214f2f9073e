// The log packet, byte for byte, with offsets written out as the dispatcher reads them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "diag/CSIntf.h"

using namespace std::string_literals;

namespace {

CSPacket Sample(std::string_view text) {
  CSPacket p;
  p.timeOfDayMs = 49530250;
  p.day = 738946;
  p.bias = -60;
  p.processId = 0x01020304;
  p.threadId = 77;
  p.connectionId = "{1234ABCD-00EF-4A0B-A0A1-A2A3A4A5A6A7}";
  p.computerName = "MUSICBOX";
  p.applicationName = "winamp";
  p.text = text;
  return p;
}

std::string At(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t n) {
  return std::string(b.begin() + from, b.begin() + from + n);
}

}  // namespace

TEST(LogPacket, EveryFieldLiesAtItsOffset) {
  std::vector<std::uint8_t> expected(5 + 220, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) expected[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  auto put = [&](std::size_t at, const char* s) { std::memcpy(&expected[at], s, std::strlen(s)); };
  put32(4, 49530250);
  put32(8, 738946);
  put32(12, 0xFFFFFFC4);  // -60
  put32(16, 5);
  put32(24, 0x01020304);
  put32(28, 77);
  put(32, "{1234ABCD-00EF-4A0B-A0A1-A2A3A4A5A6A7}");
  put(74, "MUSICBOX");
  put(90, "winamp");
  put32(172, 0xFF000005);
  put(217, "hello");
  EXPECT_EQ(BuildPacket(Sample("hello")), expected);
}

TEST(LogPacket, OnlyATrailingCarriageReturnLineFeedIsDropped) {
  const auto crlf = BuildPacket(Sample("line\r\n"));
  ASSERT_EQ(crlf.size(), 4u + 220);
  EXPECT_EQ(crlf[16], 4);
  EXPECT_EQ(At(crlf, 217, 5), std::string("line\0", 5));

  const auto lf = BuildPacket(Sample("line\n"));
  ASSERT_EQ(lf.size(), 5u + 220);
  EXPECT_EQ(At(lf, 217, 5), "line\n");

  const auto twice = BuildPacket(Sample("a\r\nb\r\n\r\n"));
  EXPECT_EQ(At(twice, 217, 7), std::string("a\r\nb\r\n\0", 7));
}

TEST(LogPacket, OverlongSlotTextsStopShortOfTheNextField) {
  CSPacket p = Sample("x");
  const std::string longName(60, 'N');
  p.computerName = p.applicationName = p.category = p.objectName = longName;
  const auto block = BuildPacket(p);
  EXPECT_EQ(At(block, 74, 16), std::string(15, 'N') + '\0');
  EXPECT_EQ(At(block, 90, 41), std::string(40, 'N') + '\0');
  EXPECT_EQ(At(block, 131, 41), std::string(40, 'N') + '\0');
  EXPECT_EQ(At(block, 172, 4), "\x05\0\0\xFF"s);
  EXPECT_EQ(At(block, 176, 42), std::string(40, 'N') + '\0' + 'x');
}

TEST(LogPacket, DayOneIsTheFirstOfJanuaryOfYearOne) {
  EXPECT_EQ(DayNumber(1, 1, 1), 1);
  EXPECT_EQ(DayNumber(1900, 3, 1), 693655);  // 1900 is no leap year
  EXPECT_EQ(DayNumber(2000, 2, 29), 730179);
  EXPECT_EQ(DayNumber(2024, 3, 1), 738946);
  EXPECT_EQ(MillisecondsOfDay({2024, 3, 1, 23, 59, 59, 999}), 86399999);
}

TEST(LogPacket, IdentityTextsTakeTheirSlotForms) {
  Guid g;
  g.data1 = 0x0000ABCD;
  g.data2 = 0x1;
  g.data3 = 0xF00D;
  for (int i = 0; i < 8; ++i) g.data4[i] = static_cast<std::uint8_t>(0x0F * i);
  EXPECT_EQ(GuidToString(g), "{0000ABCD-0001-F00D-000F-1E2D3C4B5A69}");

  // The name query has a 16-byte buffer: a 16-character name makes it fail.
  EXPECT_EQ(ComputerNameSlot(std::string(15, 'C')), std::string(15, 'C'));
  EXPECT_EQ(ComputerNameSlot(std::string(16, 'C')), "");
  EXPECT_EQ(ComputerNameSlot(std::nullopt), "");

  EXPECT_EQ(ApplicationNameFromPath("C:\\Program Files\\Winamp\\winamp.exe"), "winamp");
  EXPECT_EQ(ApplicationNameFromPath("C:\\tools.d\\my.player.exe"), "my.player");
  EXPECT_EQ(ApplicationNameFromPath("C:\\" + std::string(45, 'p') + ".exe"), std::string(40, 'p'));
}
