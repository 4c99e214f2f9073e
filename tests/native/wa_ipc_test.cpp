#include <gtest/gtest.h>

#include "fake_player.h"

TEST(PlayerRequests, PlaylistFileIsCopiedAndAMissingAnswerIsEmpty) {
  FakePlayer player;
  player.SetParentWindow(7);
  player.playlist = {"C:\\a.mp3"};
  EXPECT_EQ(player.GetPlaylistFile(0), "C:\\a.mp3");
  EXPECT_EQ(player.GetPlaylistFile(5), "");
  EXPECT_EQ(player.requests.front(), "211 7");
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
  EXPECT_EQ(player.requests.front(), "290 42");
}
