#include "publish/discord.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "native/discord_doubles.h"

namespace {

std::string Repeat(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

TEST(DiscordText, FitsIn128BytesCutOnACharacterAndPadsOneCharacter) {
  const std::string kana = "\xe3\x81\x82", note = "\xf0\x9f\x8e\xb5";  // one UTF-16 unit, and two
  const std::string zwsp = "\xe2\x80\x8b";
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"X", "X" + zwsp},
      {kana, kana + zwsp},
      {note, note},
      {"xy", "xy"},
      {Repeat("a", 200), Repeat("a", 128)},
      {Repeat(kana, 50), Repeat(kana, 42)},         // 126 bytes: the 43rd would need 129
      {Repeat("a", 127) + note, Repeat("a", 127)},  // cut before the emoji, not inside it
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(DiscordText(in), out) << in.size();
}

TEST(DiscordFrame, RoundTripsAndWaitsForAWholeFrame) {
  std::string buffer = EncodeDiscordFrame(kPing, "{\"a\":1}") + EncodeDiscordFrame(kFrame, "{}");
  EXPECT_EQ(buffer.substr(0, 8), std::string("\x03\0\0\0\x07\0\0\0", 8));
  std::string part = buffer.substr(0, 10);
  DiscordFrame frame;
  EXPECT_FALSE(DecodeDiscordFrame(part, frame));
  ASSERT_TRUE(DecodeDiscordFrame(buffer, frame));
  EXPECT_EQ(frame.json, "{\"a\":1}");
  ASSERT_TRUE(DecodeDiscordFrame(buffer, frame));
  EXPECT_EQ(frame.opcode, kFrame);
  EXPECT_TRUE(buffer.empty());
}

DiscordActivity Playing(const std::string& title) {
  DiscordActivity activity;
  activity.title = title;
  activity.artist = "Artist";
  return activity;
}

TEST(DiscordPresence, ADiscordStartedAfterThePlayerIsFoundWithoutAnotherTrack) {
  discordtest::FakeDiscord discord;
  discord.SetRunning(false);
  DiscordTiming timing;
  timing.retryFirst = std::chrono::milliseconds(10);
  DiscordPresence presence(discord, std::make_shared<NoHttpClient>(), timing);
  presence.Show("1", Playing("Teardrop"));
  // Looked for twice without finding it: the wait between looks has begun.
  ASSERT_TRUE(discord.WaitFor([](int opens, auto&, auto&) { return opens >= 2; }));
  discord.SetRunning(true);
  EXPECT_TRUE(discord.WaitFor([](int, auto&, auto& shown) { return shown.size() == 1; }));
  ASSERT_TRUE(presence.Stop(std::chrono::seconds(60)));
  EXPECT_EQ(discord.Shown(), std::vector<std::string>{"Teardrop"});
}

TEST(DiscordPresence, ANewApplicationIdConnectsAgainWithIt) {
  discordtest::FakeDiscord discord;
  DiscordPresence presence(discord, std::make_shared<NoHttpClient>());
  presence.Show("1", Playing("First"));
  ASSERT_TRUE(discord.WaitFor([](int, auto&, auto& shown) { return shown.size() == 1; }));
  presence.Show("2", Playing("Second"));
  ASSERT_TRUE(discord.WaitFor([](int, auto&, auto& shown) { return shown.size() == 2; }));
  ASSERT_TRUE(presence.Stop(std::chrono::seconds(60)));
  EXPECT_EQ(discord.Handshakes(), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(discord.Shown(), (std::vector<std::string>{"First", "Second"}));
}

}  // namespace
