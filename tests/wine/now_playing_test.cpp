// The now-playing file as an overlay reads it, and Discord's presence as the stand-in Discord
// decodes it, from the real DLL inside the stand-in player.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "wine/wine_support.h"

namespace {

using namespace wine;
using nlohmann::json;

class NowPlaying : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettings();
    SetDword("mIRC Active", 0);
    SetDword("MSN Active", 0);
  }
  void LogTo(const std::string& record) {
    dispatcher =
        std::make_unique<ChildProcess>("\"" + BinDir() + "\\dispatcher_standin.exe\" \"" + record + "\"");
    ASSERT_TRUE(WaitForWindow("TFrmDispatcher", "CodeSite Dispatcher", 10000));
    SetString("CSDebug", "viewer.example");
  }
  std::unique_ptr<ChildProcess> Reader(const std::string& file) {
    return std::make_unique<ChildProcess>("\"" + BinDir() + "\\overlay_reader.exe\" \"" + file + "\" \"" +
                                          overlay + "\"");
  }
  void UseDiscord(const std::string& id) {
    SetDword("Discord Active", 1);
    SetString("Discord Application ID", id);
    // Covers are looked up against the stand-in services, in the scrobbling tests.
    SetDword("Discord Covers", 0);
  }
  std::unique_ptr<ChildProcess> Discord(const std::string& extra = "") {
    return StartDiscord(discord, extra);
  }
  std::vector<std::pair<int, json>> Frames() { return DiscordFrames(discord); }

  // Waits until the stand-in Discord has decoded a command holding text, after the first `after`.
  bool SawCommand(const std::string& text, std::size_t after = 0) {
    for (std::size_t n = after + 1;; ++n) {
      const std::vector<std::string> lines = RecordLines(discord, "discord: op=1", n, 20000);
      if (lines.size() < n) return false;
      if (lines.back().find(text) != std::string::npos) return true;
    }
  }

  TempDir dir;
  std::string overlay = dir.File("overlay.txt"), discord = dir.File("discord.txt"), log = dir.File("log.txt");
  std::unique_ptr<ChildProcess> dispatcher;
  Go go;
};

// The folder does not exist yet; the text is exact UTF-8 without a byte-order mark; stop empties it.
TEST_F(NowPlaying, TheFileHoldsTheTrackInUtf8AndStopEmptiesIt) {
  const std::string file = dir.File("new folder\\np.txt");
  SetDword("File Active", 1);
  SetString("File Path", file);
  const auto reader = Reader(file);
  const auto player = StartPlayer(dir,
                                  "C:\\Music\\a.mp3\n  artist=\xe5\xae\x87\xe5\xa4\x9a\n  "
                                  "title=\xd0\x9f\xd0\xb5\xd1\x81\xd0\xbd\xd1\x8f \xf0\x9f\x8e\xb5\n",
                                  "play 0\nwaitevent " + go.Name() + " 20000\nstop\nquit\n");
  const std::string shown =
      "overlay: \xe5\xae\x87\xe5\xa4\x9a - \xd0\x9f\xd0\xb5\xd1\x81\xd0\xbd\xd1\x8f \xf0\x9f\x8e\xb5";
  EXPECT_EQ(RecordLines(overlay, "overlay:", 1, 20000), std::vector<std::string>{shown});
  go.Set();
  EXPECT_EQ(RecordLines(overlay, "overlay:", 2, 20000), (std::vector<std::string>{shown, "overlay: "}));
  EXPECT_EQ(player->Wait(30000), 0);
}

// Overlays poll every millisecond during 200 track changes: never a torn or missing file, and the
// last track arrives.
TEST_F(NowPlaying, AReaderNeverSeesATornOrMissingFile) {
  const std::string file = dir.File("np.txt");
  SetDword("File Active", 1);
  SetDword("File Clear", 0);
  SetString("File Path", file);
  SetString("File Format", "%artist% | %title% | %artist%");
  std::string playlist, script;
  // Every fourth change waits out the burst, so that fifty replaces happen while the reader polls.
  for (int i = 0; i < 200; ++i) {
    playlist += "C:\\Music\\t" + std::to_string(i) + ".mp3\n  artist=Artist " + std::to_string(i) +
                "\n  title=" + std::string(2000, 'x') + "\n";
    script += "play " + std::to_string(i) + "\nwait " + std::to_string(i % 4 == 3 ? 120 : 0) + "\n";
  }
  const auto reader = Reader(file);
  EXPECT_EQ(RunPlayer(dir, playlist, script).exitCode, 0);
  const std::string last = "overlay: Artist 199 | " + std::string(2000, 'x') + " | Artist 199";
  std::vector<std::string> seen;
  for (DWORD waited = 0; (seen.empty() || seen.back() != last) && waited < 20000; waited += 1000)
    seen = RecordLines(overlay, "overlay:", seen.size() + 1, 1000);
  EXPECT_EQ(seen.back(), last);
  const std::regex whole("overlay: Artist (\\d+) \\| x{2000} \\| Artist \\1");
  for (const std::string& line : seen) EXPECT_TRUE(std::regex_match(line, whole)) << line.substr(0, 60);
}

TEST_F(NowPlaying, AnUnwritablePathIsLoggedOnceNotPerTrack) {
  LogTo(log);
  SetDword("File Active", 1);
  SetString("File Path", "Q:\\\x01nowhere\\np.txt");
  EXPECT_EQ(RunPlayer(dir, "C:\\Music\\a.mp3\nC:\\Music\\b.mp3\n", "play 0\nplay 1\nplay 0\nquit\n").exitCode,
            0);
  ASSERT_TRUE(WaitForPluginLog(log, "NowPlaying: the file", 20000));
  EXPECT_EQ(LinesStartingWith(PluginLog(log), "NowPlaying: the file").size(), 1u);
}

// Discord started after the player is found at the next track; the presence is checked field by
// field; pause clears and resume shows it again; the ping is answered; quit clears.
TEST_F(NowPlaying, DiscordShowsTheTrackAndPauseAndQuitClearIt) {
  UseDiscord("1234567890");
  Go seen;
  const auto player = StartPlayer(
      dir, "C:\\Music\\first.mp3\nC:\\Music\\a.mp3\n  artist=Artist\n  title=Song\n  length=200\n",
      "play 0\nwaitevent " + go.Name() + " 20000\nplay 1\nwaitevent " + seen.Name() +
          " 20000\npause\npause\nquit\n");
  const auto discordStandin = Discord();
  ASSERT_EQ(RecordLines(discord, "discord: listening", 1).size(), 1u);
  go.Set();
  // A quit right after a track clears a presence the worker has not sent yet.
  EXPECT_TRUE(SawCommand("\"Song\""));
  seen.Set();
  EXPECT_EQ(player->Wait(30000), 0);
  std::vector<json> commands;
  bool ponged = false;
  for (const auto& [opcode, message] : Frames()) {
    if (opcode == 4) ponged = true;
    if (opcode == 1) commands.push_back(message);
    if (opcode == 0) {
      EXPECT_EQ(message, (json{{"v", 1}, {"client_id", "1234567890"}}));
    }
  }
  EXPECT_TRUE(ponged);
  ASSERT_GE(commands.size(), 2u);
  // Only the latest is sent while one command is in flight: pause's clear and resume's show may
  // merge with the track's own, and the untagged first track may or may not have been sent.
  const auto found = std::find_if(commands.begin(), commands.end(), [](const json& c) {
    return c["args"].value("activity", json::object()).value("details", "") == "Song";
  });
  ASSERT_NE(found, commands.end());
  const json& shown = *found;
  EXPECT_EQ(shown["cmd"], "SET_ACTIVITY");
  EXPECT_EQ(shown["args"]["pid"], player->Id());
  const json& activity = shown["args"]["activity"];
  EXPECT_EQ(activity["type"], 2);
  EXPECT_EQ(activity["details"], "Song");
  EXPECT_EQ(activity["state"], "Artist");
  EXPECT_EQ(activity["timestamps"]["end"].get<long long>() - activity["timestamps"]["start"].get<long long>(),
            200000);
  // Quit's clear is last.
  EXPECT_FALSE(commands.back()["args"].contains("activity"));
  // Quit closed the pipe (the stand-in saw the client go) and left no thread behind.
  const std::vector<std::string> out = ReadLines(dir.File("player.out"));
  const std::vector<std::string> threads = LinesStartingWith(out, "threads ");
  ASSERT_EQ(threads.size(), 1u);
  const int after = std::stoi(threads[0].substr(8)),
            before = std::stoi(threads[0].substr(threads[0].find(", ") + 2));
  EXPECT_EQ(after, before);
  EXPECT_NE(commands.front()["nonce"], commands.back()["nonce"]);
}

// Discord killed mid-session and started again is found at a later track.
TEST_F(NowPlaying, DiscordRestartedIsFoundAgainAtALaterTrack) {
  UseDiscord("1234567890");
  auto discordStandin = Discord();
  ASSERT_EQ(RecordLines(discord, "discord: listening", 1).size(), 1u);
  Go again, shown;
  const auto player =
      StartPlayer(dir, "C:\\Music\\a.mp3\n  title=First\nC:\\Music\\b.mp3\n  title=Second\n",
                  "play 0\nwaitevent " + go.Name() + " 20000\nplay 1\nwaitevent " + again.Name() +
                      " 20000\nplay 0\nwaitevent " + shown.Name() + " 20000\nquit\n");
  ASSERT_EQ(RecordLines(discord, "discord: op=1", 1, 20000).size(), 1u);
  discordStandin.reset();
  go.Set();
  discordStandin = Discord();
  ASSERT_EQ(RecordLines(discord, "discord: listening", 2).size(), 2u);
  const std::size_t before = LinesStartingWith(ReadLines(discord), "discord: op=1").size();
  again.Set();
  EXPECT_TRUE(SawCommand("\"First\"", before));
  shown.Set();
  EXPECT_EQ(player->Wait(30000), 0);
  int handshakes = 0;
  std::string lastTitle;
  for (const auto& [opcode, message] : Frames()) {
    handshakes += opcode == 0;
    if (opcode == 1 && message["args"].contains("activity"))
      lastTitle = message["args"]["activity"]["details"];
  }
  EXPECT_EQ(handshakes, 2);
  EXPECT_EQ(lastTitle, "First");
}

TEST_F(NowPlaying, ARefusedApplicationIdIsLoggedWithDiscordsMessage) {
  LogTo(log);
  UseDiscord("42");
  const auto discordStandin = Discord(" --refuse 42");
  ASSERT_EQ(RecordLines(discord, "discord: listening", 1).size(), 1u);
  // Quit waits for the answer: a quit during the handshake would end the worker before it.
  const auto player =
      StartPlayer(dir, "C:\\Music\\a.mp3\n", "play 0\nwaitevent " + go.Name() + " 20000\nquit\n");
  EXPECT_TRUE(
      WaitForPluginLog(log, "Discord: Discord closed the connection (code 4000: Invalid Client ID)", 20000));
  go.Set();
  EXPECT_EQ(player->Wait(30000), 0);
}

}  // namespace
