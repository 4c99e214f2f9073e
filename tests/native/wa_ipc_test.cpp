#include <gtest/gtest.h>

#include "fake_player.h"

namespace {

// A player of each kind: the version alone decides which requests are made.
struct Kind {
  LResult version;
  LParam playlistFile;
  LParam extendedInfo;
};
const Kind kKinds[] = {{kFirstWideVersion, kIpcGetPlaylistFileW, kIpcGetExtendedFileInfoW},
                       {0x5666, kIpcGetPlaylistFileW, kIpcGetExtendedFileInfoW},
                       {0x5012, kIpcGetPlaylistFile, kIpcGetExtendedFileInfo},
                       {1, kIpcGetPlaylistFile, kIpcGetExtendedFileInfo}};

TEST(PlayerRequests, TheVersionIsAskedOnceAndDecidesBetweenWideAndAnsiRequests) {
  for (const Kind& kind : kKinds) {
    FakePlayer player;
    player.version = kind.version;
    player.SetParentWindow(7);
    player.playlist = {"C:\\a.mp3"};
    player.tags[{"C:\\a.mp3", "title"}] = "T";
    EXPECT_EQ(player.GetPlaylistFile(0), "C:\\a.mp3");
    EXPECT_EQ(player.GetPlaylistFile(5), "");
    EXPECT_EQ(player.Tag("C:\\a.mp3", "title"), "T");
    const std::string file = std::to_string(kind.playlistFile) + " 7";
    EXPECT_EQ(player.requests,
              (std::vector<std::string>{"0 7", file, file, std::to_string(kind.extendedInfo) + " 7"}))
        << std::hex << kind.version;
  }
}

TEST(PlayerRequests, AWidePlayersTextArrivesExactlyAndAnOlderOnesThroughItsCodePage) {
  for (const LResult version : {kFirstWideVersion, LResult{0x2095}}) {
    FakePlayer player;
    player.version = version;
    player.playlist = {"C:\\坂本龍一\\Beyoncé.mp3"};
    player.tags[{"C:\\坂本龍一\\Beyoncé.mp3", "title"}] = "Привет 🎵 90°";
    player.tags[{"C:\\Beyoncé.mp3", "title"}] = "Beyoncé 90°";
    const bool wide = version >= kFirstWideVersion;
    EXPECT_EQ(player.GetPlaylistFile(0), wide ? "C:\\坂本龍一\\Beyoncé.mp3" : "C:\\????\\Beyoncé.mp3");
    EXPECT_EQ(player.Tag("C:\\坂本龍一\\Beyoncé.mp3", "title"), wide ? "Привет 🎵 90°" : "");
    EXPECT_EQ(player.Tag("C:\\Beyoncé.mp3", "title"), "Beyoncé 90°");
  }
}

TEST(PlayerRequests, PlaylistWindowAsksWithArgumentOne) {
  FakePlayer player;
  EXPECT_EQ(player.GetPlaylistWindow(), 0x5150u);
}

TEST(PlayerRequests, ExtendedInfoUnknownTagGivesFalseAndEmpty) {
  FakePlayer player;
  std::string value = "stale";
  EXPECT_FALSE(player.GetExtendedFileInfo(1, "f.mp3", "artist", value));
  EXPECT_EQ(value, "");
}

TEST(PlayerRequests, ExtendedInfoOfTheLongestLengthComesWholeAndNoLonger) {
  FakePlayer player;
  player.tags[{"f.mp3", "title"}] = std::string(4095, 't');
  player.tags[{"f.mp3", "comment"}] = std::string(5000, 'c');  // a player that fills the buffer unterminated
  std::string value;
  EXPECT_TRUE(player.GetExtendedFileInfo(1, "f.mp3", "title", value));
  EXPECT_EQ(value, std::string(4095, 't'));
  EXPECT_TRUE(player.GetExtendedFileInfo(1, "f.mp3", "comment", value));
  EXPECT_EQ(value.size(), 4096u);
}

TEST(PlayerRequests, TagsAreAskedOfTheParentWindowUnderTheirOwnName) {
  FakePlayer player;
  player.SetParentWindow(42);
  player.tags[{"f.mp3", "Artist "}] = "A";
  EXPECT_EQ(player.Tag("f.mp3", "Artist "), "A");
  EXPECT_EQ(player.Tag("f.mp3", "artist"), "");
  EXPECT_EQ(player.requests.at(1), "3026 42");
}

}  // namespace
