#include "publish/discord.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
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

// A clock that moves only when the test moves it, read by the presence and by the fake Discord.
struct ManualClock {
  std::atomic<std::int64_t> ms{0};
  std::function<std::chrono::steady_clock::time_point()> Now() {
    return [this] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms.load())); };
  }
};

TEST(DiscordPresence, TwelveChangesInThreeSecondsSendAtMostFiveIn20SecondsEndingOnTheLast) {
  discordtest::FakeDiscord discord;
  ManualClock clock;
  discord.clock = clock.Now();
  DiscordTiming timing;
  timing.now = clock.Now();
  DiscordPresence presence(discord, std::make_shared<NoHttpClient>(), timing);
  for (int i = 1; i <= 12; ++i) {
    clock.ms = (i - 1) * 250;
    presence.Show("1", Playing("t" + std::to_string(i)));
    // The first five go as they come; each later one is held back until the window allows.
    if (i <= 5)
      ASSERT_TRUE(discord.WaitFor([i](int, auto&, auto& shown) { return shown.size() == std::size_t(i); }));
    else
      ASSERT_TRUE(discord.WaitUntilHeldBack());
  }
  EXPECT_EQ(discord.Shown().size(), 5u);
  clock.ms = 20000;
  discord.Wake();
  ASSERT_TRUE(discord.WaitFor([](int, auto&, auto& shown) { return shown.size() == 6; }));
  ASSERT_TRUE(presence.Stop(std::chrono::seconds(60)));
  EXPECT_EQ(discord.Shown(), (std::vector<std::string>{"t1", "t2", "t3", "t4", "t5", "t12"}));
  const auto at = discord.ShownAt();
  for (std::size_t i = 5; i < at.size(); ++i) EXPECT_GE(at[i] - at[i - 5], std::chrono::seconds(20));
}

// Covers: the answers are scripted by address; a look-up of the "Slow" album hangs until released.
class FakeCovers final : public HttpClient {
 public:
  HttpResponse Post(const HttpRequest&) override { return {}; }
  HttpResponse Get(const std::string& url) override {
    std::unique_lock<std::mutex> hold(lock_);
    asked_.push_back(url);
    if (url.find("Slow") != std::string::npos) released_.wait(hold, [&] { return release_ || cancelled_; });
    if (cancelled_) return {0, {}, "", "cancelled"};
    if (url.find("/release/") != std::string::npos) return {404, {}, "", ""};
    return {200,
            {},
            R"({"results":[{"artworkUrl100":"https://art.example/)" + std::to_string(asked_.size()) +
                R"(/100x100bb.jpg"}]})",
            ""};
  }
  void Cancel() override {
    const std::lock_guard<std::mutex> hold(lock_);
    cancelled_ = true;
    released_.notify_all();
  }
  void Release(bool release) {
    const std::lock_guard<std::mutex> hold(lock_);
    release_ = release;
    released_.notify_all();
  }
  std::vector<std::string> Asked() {
    const std::lock_guard<std::mutex> hold(lock_);
    return asked_;
  }

 private:
  std::mutex lock_;
  std::condition_variable released_;
  std::vector<std::string> asked_;
  bool release_ = false, cancelled_ = false;
};

DiscordActivity OnAlbum(const std::string& title, const std::string& album, const std::string& release = "") {
  DiscordActivity activity = Playing(title);
  activity.album = album;
  activity.releaseId = release;
  return activity;
}

TEST(DiscordPresence, EachAlbumIsLookedUpOnceAndASlowLookUpLetsThePresenceGoWithoutItsCover) {
  discordtest::FakeDiscord discord;
  const auto covers = std::make_shared<FakeCovers>();
  DiscordTiming timing;
  timing.coverWait = std::chrono::milliseconds(50);
  DiscordPresence presence(discord, covers, timing);
  const CoverRoots roots{"http://itunes.test", "http://caa.test"};
  const auto shownCount = [&](std::size_t n) {
    return discord.WaitFor([n](int, auto&, auto& shown) { return shown.size() == n; });
  };
  presence.Show("1", OnAlbum("One", "Takk...", "rel-1"), roots);
  ASSERT_TRUE(shownCount(1));
  presence.Show("1", OnAlbum("Two", "Takk...", "rel-1"), roots);
  ASSERT_TRUE(shownCount(2));
  // Still hanging when the presence goes: it goes without the cover, and is sent again with it.
  presence.Show("1", OnAlbum("Three", "Slow"), roots);
  ASSERT_TRUE(shownCount(3));
  covers->Release(true);
  ASSERT_TRUE(shownCount(4));
  ASSERT_TRUE(presence.Stop(std::chrono::seconds(60)));
  const auto sent = discord.Activities();
  for (int i : {0, 1}) {
    EXPECT_EQ(sent[i]["assets"]["large_image"], "https://art.example/2/512x512bb.jpg") << i;
    EXPECT_EQ(sent[i]["assets"]["large_text"], "Takk...");
    EXPECT_EQ(sent[i]["status_display_type"], 1);
  }
  EXPECT_FALSE(sent[2].contains("assets"));
  EXPECT_EQ(sent[3]["details"], "Three");
  EXPECT_EQ(sent[3]["assets"]["large_image"], "https://art.example/3/512x512bb.jpg");
  EXPECT_EQ(covers->Asked(),
            (std::vector<std::string>{"http://caa.test/release/rel-1/front-500",
                                      "http://itunes.test/search?term=Artist+Takk...&entity=album&limit=1",
                                      "http://itunes.test/search?term=Artist+Slow&entity=album&limit=1"}));
}

TEST(DiscordPresence, AStopCancelsAHangingLookUp) {
  discordtest::FakeDiscord discord;
  const auto covers = std::make_shared<FakeCovers>();
  DiscordPresence presence(discord, covers);
  presence.Show("1", OnAlbum("Three", "Slow"), CoverRoots{"http://itunes.test", "http://caa.test"});
  ASSERT_TRUE(discord.WaitFor([&](int, auto&, auto&) { return !covers->Asked().empty(); }));
  EXPECT_TRUE(presence.Stop(std::chrono::seconds(60)));
}

}  // namespace
