// The log packet, byte for byte, with offsets written out as the dispatcher reads them.
#include <gtest/gtest.h>

#include <cstring>

#include "diag/CSIntf.h"

namespace {

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutStr(std::vector<std::uint8_t>& b, std::size_t at, const char* s) {
  std::memcpy(&b[at], s, std::strlen(s));
}

CSPacket Sample(std::string_view text) {
  CSPacket p;
  p.type = CSMessageType::Text;
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

}  // namespace

TEST(LogPacket, EveryFieldLiesAtItsOffset) {
  std::vector<std::uint8_t> expected(5 + 220, 0);
  Put32(expected, 0, 0);
  Put32(expected, 4, 49530250);
  Put32(expected, 8, 738946);
  Put32(expected, 12, 0xFFFFFFC4);  // -60
  Put32(expected, 16, 5);
  Put32(expected, 20, 0);
  Put32(expected, 24, 0x01020304);
  Put32(expected, 28, 77);
  PutStr(expected, 32, "{1234ABCD-00EF-4A0B-A0A1-A2A3A4A5A6A7}");
  PutStr(expected, 74, "MUSICBOX");
  PutStr(expected, 90, "winamp");
  Put32(expected, 172, 0xFF000005);
  PutStr(expected, 217, "hello");

  EXPECT_EQ(BuildPacket(Sample("hello")), expected);
}

TEST(LogPacket, TypesAndEmptyTextGiveTheBareHeader) {
  CSPacket p = Sample("");
  p.type = CSMessageType::CloseConnection;
  const std::vector<std::uint8_t> close = BuildPacket(p);
  ASSERT_EQ(close.size(), 220u);
  EXPECT_EQ(close[0], 42);
  EXPECT_EQ(close[16], 0);
  p.type = CSMessageType::OpenConnection;
  EXPECT_EQ(BuildPacket(p)[0], 41);
}

TEST(LogPacket, OnlyATrailingCarriageReturnLineFeedIsDropped) {
  const auto crlf = BuildPacket(Sample("line\r\n"));
  ASSERT_EQ(crlf.size(), 4u + 220);
  EXPECT_EQ(crlf[16], 4);
  EXPECT_EQ(std::string(crlf.begin() + 217, crlf.begin() + 221), "line");
  EXPECT_EQ(crlf[221], 0);

  const auto lf = BuildPacket(Sample("line\n"));
  ASSERT_EQ(lf.size(), 5u + 220);
  EXPECT_EQ(lf[16], 5);
  EXPECT_EQ(lf[221], '\n');

  // One pair only, and a CR LF inside the text stays.
  const auto twice = BuildPacket(Sample("a\r\nb\r\n\r\n"));
  EXPECT_EQ(twice[16], 6);
  EXPECT_EQ(std::string(twice.begin() + 217, twice.begin() + 223), "a\r\nb\r\n");
}

TEST(LogPacket, OverlongSlotTextsStopShortOfTheNextField) {
  CSPacket p = Sample("x");
  const std::string longName(60, 'N');
  p.computerName = longName;
  p.applicationName = longName;
  p.category = longName;
  p.objectName = longName;
  const auto block = BuildPacket(p);
  EXPECT_EQ(std::string(block.begin() + 74, block.begin() + 89), std::string(15, 'N'));
  EXPECT_EQ(block[89], 0);
  EXPECT_EQ(std::string(block.begin() + 90, block.begin() + 130), std::string(40, 'N'));
  EXPECT_EQ(block[130], 0);
  EXPECT_EQ(block[171], 0);
  EXPECT_EQ(block[172], 0x05);
  EXPECT_EQ(block[216], 0);
  EXPECT_EQ(block[217], 'x');
}

TEST(LogClock, DayOneIsTheFirstOfJanuaryOfYearOne) {
  EXPECT_EQ(DayNumber(1, 1, 1), 1);
  EXPECT_EQ(DayNumber(1899, 12, 30), 693594);
  EXPECT_EQ(DayNumber(1900, 3, 1), 693655);  // 1900 is no leap year
  EXPECT_EQ(DayNumber(2000, 2, 29), 730179);
  EXPECT_EQ(DayNumber(2023, 12, 31), 738885);
  EXPECT_EQ(DayNumber(2024, 3, 1), 738946);
  EXPECT_EQ(MillisecondsOfDay({2024, 3, 1, 23, 59, 59, 999}), 86399999);
}

TEST(LogIdentity, GuidInRegistryForm) {
  Guid g;
  g.data1 = 0x0000ABCD;
  g.data2 = 0x1;
  g.data3 = 0xF00D;
  for (int i = 0; i < 8; ++i) g.data4[i] = static_cast<std::uint8_t>(0x0F * i);
  const std::string text = GuidToString(g);
  EXPECT_EQ(text, "{0000ABCD-0001-F00D-000F-1E2D3C4B5A69}");
  EXPECT_EQ(text.size(), 38u);
}

TEST(LogIdentity, ComputerNameOfSixteenCharactersLeavesTheSlotEmpty) {
  EXPECT_EQ(ComputerNameSlot(std::string(15, 'C')), std::string(15, 'C'));
  EXPECT_EQ(ComputerNameSlot(std::string(16, 'C')), "");
  EXPECT_EQ(ComputerNameSlot(std::nullopt), "");
}

TEST(LogIdentity, ApplicationNameIsTheExecutableWithoutFolderAndExtension) {
  EXPECT_EQ(ApplicationNameFromPath("C:\\Program Files\\Winamp\\winamp.exe"), "winamp");
  EXPECT_EQ(ApplicationNameFromPath("C:\\tools.d\\my.player.exe"), "my.player");
  EXPECT_EQ(ApplicationNameFromPath("D:player"), "player");
  EXPECT_EQ(ApplicationNameFromPath("C:\\" + std::string(45, 'p') + ".exe"), std::string(40, 'p'));
}
