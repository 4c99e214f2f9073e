// Album covers in Discord's presence, looked up by the real DLL with WinHTTP in the stand-in
// player, against the cover stand-in that with_standins.sh started and the stand-in Discord.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "wine/scrobble/standin_client.h"
#include "wine/wine_support.h"

namespace {

using namespace wine;
using json = nlohmann::json;

constexpr const char* kRelease = "76df3287-6cda-33eb-8e9a-044b5e15ffdd";

class Covers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(covers.Running()) << "run through tests/wine/scrobble/with_standins.sh";
    covers.Reset();
    covers.Answer("");
    DeleteSettings();
    SetDword("mIRC Active", 0);
    SetDword("MSN Active", 0);
    SetDword("Discord Active", 1);
    SetString("Discord Application ID", "1234567890");
    SetString("iTunes Search API", covers.root);
    SetString("Cover Art Archive API", covers.root);
    discordStandin = StartDiscord(discord);
    ASSERT_EQ(RecordLines(discord, "discord: listening", 1, 20000).size(), 1u);
  }
  void TearDown() override {
    player.reset();
    DeleteSettings();
  }

  // Waits until the stand-in Discord has decoded a command holding each text, after the first `after`.
  std::size_t SawCommand(const std::string& text, std::size_t after = 0) {
    for (std::size_t n = after + 1;; ++n) {
      // Past five changes in 20 s the presence waits for the window.
      const std::vector<std::string> lines = RecordLines(discord, "discord: op=1", n, 30000);
      if (lines.size() < n) return 0;
      if (lines.back().find(text) != std::string::npos) return n;
    }
  }
  static std::string Itunes(const std::string& term) {
    return "https://is1-ssl.mzstatic.example/" + term + "/512x512bb.jpg";
  }

  Standin covers{"SKORREL_COVERS_PORT"};
  TempDir dir;
  const std::string discord = dir.File("discord.txt");
  std::unique_ptr<ChildProcess> discordStandin, player;
  Go go[4];
};

// Two tracks of one album ask once; a tagged release goes to the Cover Art Archive; an album neither
// knows keeps the application's image.
TEST_F(Covers, EachAlbumIsLookedUpOnceAndItsCoverShownWithTheAlbum) {
  const std::string playlist =
      "C:\\Music\\a.mp3\n  artist=Massive Attack\n  title=Teardrop\n  album=Mezzanine\n"
      "C:\\Music\\b.mp3\n  artist=Massive Attack\n  title=Angel\n  album=Mezzanine\n"
      "C:\\Music\\c.mp3\n  artist=Portishead\n  title=Roads\n  album=Dummy\n"
      "  MusicBrainz Album Id=" +
      std::string(kRelease) +
      "\n"
      "C:\\Music\\d.mp3\n  artist=Nobody\n  title=Nothing\n  album=Unknown Album\n";
  std::string script;
  for (int i = 0; i < 4; ++i)
    script += "play " + std::to_string(i) + "\nwaitevent " + go[i].Name() + " 60000\n";
  player = StartPlayer(dir, playlist, script + "quit\n");
  const std::string mezzanine = Itunes("Massive%20Attack%20Mezzanine");
  const std::string dummy = covers.root + "/release/" + kRelease + "/front-500";
  std::size_t seen = 0;
  for (const auto& [i, text] :
       std::vector<std::pair<int, std::string>>{{0, mezzanine}, {1, "Angel"}, {2, dummy}, {3, "Nothing"}}) {
    seen = SawCommand(text, seen);
    ASSERT_NE(seen, 0u) << text;
    go[i].Set();
  }
  EXPECT_EQ(player->Wait(30000), 0);

  std::map<std::string, json> shown;  // each title's last presence
  for (const auto& [op, frame] : DiscordFrames(discord))
    if (op == 1 && frame["cmd"] == "SET_ACTIVITY" && frame["args"].contains("activity"))
      shown[frame["args"]["activity"]["details"]] = frame["args"]["activity"];
  for (const auto& [title, cover, album] :
       std::vector<std::tuple<std::string, std::string, std::string>>{{"Teardrop", mezzanine, "Mezzanine"},
                                                                      {"Angel", mezzanine, "Mezzanine"},
                                                                      {"Roads", dummy, "Dummy"}}) {
    ASSERT_TRUE(shown[title].contains("assets")) << title;
    EXPECT_EQ(shown[title]["assets"], (json{{"large_image", cover}, {"large_text", album}})) << title;
  }
  EXPECT_FALSE(shown["Nothing"].contains("assets"));
  const json plays = covers.Plays();
  ASSERT_EQ(plays.size(), 3u);
  EXPECT_EQ(plays[0]["term"], "Massive Attack Mezzanine");
  EXPECT_EQ(plays[1]["release"], kRelease);
  EXPECT_EQ(plays[2]["term"], "Nobody Unknown Album");
}

// A look-up that does not answer holds the presence back no longer than its limit; the cover
// follows when the answer comes.
TEST_F(Covers, AHangingLookUpLetsThePresenceGoWithoutTheCoverWhichFollows) {
  covers.Answer("hang");
  player =
      StartPlayer(dir, "C:\\Music\\a.mp3\n  artist=Massive Attack\n  title=Teardrop\n  album=Mezzanine\n",
                  "play 0\nwaitevent " + go[0].Name() + " 60000\nquit\n");
  ASSERT_EQ(covers.Wait(1, 30, true, 1)["scripted"].size(), 1u);
  const std::size_t first = SawCommand("Teardrop");
  ASSERT_NE(first, 0u);
  const std::vector<std::string> sent = RecordLines(discord, "discord: op=1", first);
  EXPECT_EQ(sent[first - 1].find("large_image"), std::string::npos) << "sent while the look-up still hangs";
  covers.Answer("");
  EXPECT_NE(SawCommand(Itunes("Massive%20Attack%20Mezzanine"), first), 0u);
  go[0].Set();
  EXPECT_EQ(player->Wait(30000), 0);
}

}  // namespace
