#include "publish/discord.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace {

TEST(DiscordText, KeepsTwoTo128UnitsAndCutsOnlyOnACharacterBoundary) {
  const std::string kana = "\xe3\x81\x82";      // one unit, three bytes
  const std::string note = "\xf0\x9f\x8e\xb5";  // two units, four bytes
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"x", ""},
      {kana, ""},
      {"xy", "xy"},
      {note, note},
      {std::string(200, 'a'), std::string(128, 'a')},
      {[&] {
         std::string s;
         for (int i = 0; i < 130; ++i) s += kana;
         return s;
       }(),
       [&] {
         std::string s;
         for (int i = 0; i < 128; ++i) s += kana;
         return s;
       }()},
      // The emoji would be units 128 and 129: it goes whole.
      {std::string(127, 'a') + note, std::string(127, 'a')},
  };
  for (const Case& c : cases) EXPECT_EQ(DiscordText(c.in), c.out) << c.in.size();
}

TEST(DiscordFrame, RoundTripsAndWaitsForAWholeFrame) {
  std::string buffer = EncodeDiscordFrame(kPing, "{\"a\":1}") + EncodeDiscordFrame(kFrame, "{}");
  EXPECT_EQ(buffer.substr(0, 8), std::string("\x03\0\0\0\x07\0\0\0", 8));
  std::string part = buffer.substr(0, 10);
  DiscordFrame frame;
  EXPECT_FALSE(DecodeDiscordFrame(part, frame));
  ASSERT_TRUE(DecodeDiscordFrame(buffer, frame));
  EXPECT_EQ(frame.opcode, kPing);
  EXPECT_EQ(frame.json, "{\"a\":1}");
  ASSERT_TRUE(DecodeDiscordFrame(buffer, frame));
  EXPECT_EQ(frame.json, "{}");
  EXPECT_TRUE(buffer.empty());
}

TEST(DiscordSetActivity, LeavesOutAnUnknownEndAShortTextAndTheWholeActivityToClear) {
  DiscordActivity activity{"T", "Artist", 5000, std::nullopt};
  const auto shown = nlohmann::json::parse(DiscordSetActivity(7, activity, "n1"));
  EXPECT_EQ(shown["args"],
            nlohmann::json::parse(
                R"({"pid":7,"activity":{"type":2,"state":"Artist","timestamps":{"start":5000}}})"));
  const auto cleared = nlohmann::json::parse(DiscordSetActivity(7, std::nullopt, "n2"));
  EXPECT_EQ(cleared, nlohmann::json::parse(R"({"cmd":"SET_ACTIVITY","args":{"pid":7},"nonce":"n2"})"));
}

}  // namespace
