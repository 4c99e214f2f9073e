#include "plugin/dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_player.h"

namespace {

std::uint32_t fakeNow = 0;
std::uint32_t FakeTick() { return fakeNow; }

class RecordingPublishers : public Publishers {
 public:
  std::vector<std::string> calls;
  void SetMsnLine(const TTrackMetaData& t) override { calls.push_back("msn set " + t.FileName); }
  void ClearMsnLine() override { calls.push_back("msn clear"); }
  void SendMircCommand(const TTrackMetaData& t) override { calls.push_back("mirc " + t.FileName); }
  void StartDatabaseUpdate(const TTrackMetaData& t) override { calls.push_back("mysql " + t.FileName); }
  // The Wine tests watch these through the real file and pipe.
  void ShowTrack(const TTrackMetaData& t) override { shown.push_back(t.FileName); }
  void HideTrack() override {}
  void StartPlay(const TTrackMetaData& t, std::uint32_t now) override { Play("start " + t.FileName, now); }
  void PausePlay(std::uint32_t now) override { Play("pause", now); }
  void ResumePlay(std::uint32_t now) override { Play("resume", now); }
  void EndPlay(std::uint32_t now) override { Play("end", now); }
  std::vector<std::string> shown;  // what the file and Discord were given, apart from calls
  std::vector<std::string> plays;  // what the play rule was told, apart from calls

 private:
  void Play(const std::string& what, std::uint32_t now) { plays.push_back(what + " " + std::to_string(now)); }
};

class Dispatch : public ::testing::Test {
 protected:
  Dispatch() {
    player.playlist = {"C:\\Music\\song.mp3", "C:\\Music\\other.mp3", "C:\\Video\\CLIP.MPG",
                       "C:\\dir.v\\track"};
    settings.IgnoreExtList = "avi,mpg,mpeg,wmv";
    fakeNow = 1000;
  }
  void Notice(int index) { dispatch.OnTrackNotice(kTrackNoticeFlag | index); }
  void Command(WParam command) { dispatch.OnMainMessage(kWmCommand, command); }
  std::vector<std::string> Take() { return std::exchange(publishers.calls, {}); }

  PluginSettings settings;
  FakePlayer player;
  RecordingPublishers publishers;
  TrackDispatch dispatch{settings, player, publishers, &FakeTick};
};

using Calls = std::vector<std::string>;

TEST(DispatchFilters, OnlyTheFourWatchedMessagesAreTaken) {
  EXPECT_TRUE(IsTrackNotice(1024, 666, 0x40000000 | 3));
  EXPECT_TRUE(IsTrackNotice(1024, 666, -1));  // bits 28, 29 and 31 are not looked at
  EXPECT_FALSE(IsTrackNotice(1024, 666, 3));
  EXPECT_FALSE(IsTrackNotice(1024, 667, 0x40000000));
  EXPECT_FALSE(IsTrackNotice(1025, 666, 0x40000000));
  EXPECT_TRUE(IsWatchedMainMessage(273, 40046));
  EXPECT_TRUE(IsWatchedMainMessage(273, 40047));
  EXPECT_FALSE(IsWatchedMainMessage(273, 0x10000 | 40046));  // a notification code in the high word
  EXPECT_TRUE(IsWatchedMainMessage(1026, 0));
  EXPECT_FALSE(IsWatchedMainMessage(1024, 40046));
}

TEST_F(Dispatch, PublishesInOrderMsnThenMircThenMysql) {
  settings.MySQLActive = true;
  Notice(0);
  EXPECT_EQ(Take(),
            (Calls{"msn set C:\\Music\\song.mp3", "mirc C:\\Music\\song.mp3", "mysql C:\\Music\\song.mp3"}));
  EXPECT_EQ(dispatch.LastMSNTrack().FileName, "C:\\Music\\song.mp3");
}

TEST_F(Dispatch, MsnOffClearsInsteadAndTheOthersFollowTheirSwitches) {
  settings.MSNActive = false;
  settings.mIRCActive = false;
  Notice(0);
  EXPECT_EQ(Take(), (Calls{"msn clear"}));
}

TEST_F(Dispatch, TheIndexIsTheLow28BitsOfTheNotice) {
  dispatch.OnTrackNotice(static_cast<LParam>(0xB0000000u | kTrackNoticeFlag | 1));
  EXPECT_EQ(Take().front(), "msn set C:\\Music\\other.mp3");
}

TEST_F(Dispatch, RepeatsWithinThreeSecondsArePublishedOnce) {
  Notice(0);
  Take();
  fakeNow += 1000;
  Notice(0);
  fakeNow += 1999;
  Notice(0);  // 2999 ms after the accepted one: the repeat did not restart the window
  EXPECT_EQ(Take(), Calls{});
  fakeNow += 1;
  Notice(0);  // exactly 3000 ms: still a repeat
  EXPECT_EQ(Take(), Calls{});
  fakeNow += 1;
  Notice(0);
  EXPECT_EQ(Take().size(), 2u);
  EXPECT_EQ(dispatch.LastFileTick(), fakeNow);
}

TEST_F(Dispatch, ADifferentFileIsPublishedAtOnce) {
  Notice(0);
  fakeNow += 100;
  Notice(1);
  fakeNow += 100;
  Notice(0);
  EXPECT_EQ(Take().size(), 6u);
}

TEST_F(Dispatch, TheWindowHoldsAcrossTheTickCounterWrap) {
  fakeNow = 0xFFFFFF00u;
  Notice(0);
  Take();
  fakeNow = 0x00000100u;  // 512 ms later, after the wrap
  Notice(0);
  EXPECT_EQ(Take(), Calls{});
  fakeNow = 0xFFFFFF00u + 3001u;
  Notice(0);
  EXPECT_EQ(Take().size(), 2u);
}

TEST_F(Dispatch, TheFirstNoticeIsAcceptedEvenAtTickZeroOrWithAnEmptyName) {
  fakeNow = 0;
  Notice(9);  // the player knows no entry 9: an empty file name
  EXPECT_EQ(Take(), (Calls{"msn set ", "mirc "}));
  // A tick of 0 reads as "nothing accepted yet", so the same notice goes through again.
  Notice(9);
  EXPECT_EQ(Take().size(), 2u);
}

TEST_F(Dispatch, IgnoredFilesOnlyClearTheMessenger) {
  settings.MSNActive = false;
  settings.MySQLActive = true;
  Notice(2);
  EXPECT_EQ(Take(), (Calls{"msn clear"}));
  Notice(0);
  EXPECT_EQ(Take().size(), 3u);
}

TEST_F(Dispatch, IgnoredFilesArePublishedWhenTheFilterIsOff) {
  settings.IgnoreExts = false;
  Notice(2);
  EXPECT_EQ(Take().front(), "msn set C:\\Video\\CLIP.MPG");
}

TEST(IgnoreList, FieldsAreComparedUntrimmedAndIgnoringAsciiCase) {
  EXPECT_TRUE(IsIgnoredFile("C:\\Video\\CLIP.MPG", "avi,mpg,mpeg,wmv"));
  EXPECT_FALSE(IsIgnoredFile("C:\\Music\\song.mp3", "avi,mpg,mpeg,wmv"));
  EXPECT_FALSE(IsIgnoredFile("x.mpg", "avi, mpg"));
  EXPECT_TRUE(IsIgnoredFile("x.avi", ",,avi,,"));
  EXPECT_FALSE(IsIgnoredFile("x.avi", "mpg\r\navi"));
  EXPECT_TRUE(IsIgnoredFile("x.AVI", "wmv,AvI"));
  EXPECT_FALSE(IsIgnoredFile("x.", ""));
  EXPECT_FALSE(IsIgnoredFile("x.avi", ""));
}

TEST(IgnoreList, TheExtensionStopsAtDirectoriesAndDrives) {
  EXPECT_EQ(FileExtension("C:\\dir.v\\track"), "");
  EXPECT_EQ(FileExtension("a.b:stream"), "");
  EXPECT_EQ(FileExtension("C:\\a.b\\c.mp3"), ".mp3");
  EXPECT_EQ(FileExtension("noext"), "");
  EXPECT_EQ(FileExtension("http://host/x.avi"), ".avi");
  EXPECT_FALSE(IsIgnoredFile("C:\\dir.v\\track", "v,avi"));
}

TEST_F(Dispatch, PauseClearsAndSecondPauseRestoresTheLastTrack) {
  Notice(0);
  Take();
  Command(kPauseCommand);
  EXPECT_TRUE(dispatch.Paused());
  Command(kPauseCommand);
  EXPECT_FALSE(dispatch.Paused());
  EXPECT_EQ(Take(), (Calls{"msn clear", "msn set C:\\Music\\song.mp3"}));
}

TEST_F(Dispatch, APauseTwiceWhileStoppedShowsTheLastTrackAgainOnlyWhenThePlayerPlays) {
  for (const LResult state : {LResult{0}, kPlaying}) {
    Notice(0);
    Command(kStopCommand);
    publishers.shown.clear();
    player.playing = state;
    Command(kPauseCommand);
    Command(kPauseCommand);
    EXPECT_EQ(publishers.shown.size(), state == kPlaying ? 1u : 0u) << state;
    fakeNow += 10000;  // the next notice of the same file is a new play
  }
}

TEST_F(Dispatch, ResumeRepublishesWhateverMsnSaysAndAnEmptyTrackWhenNothingWasPlayed) {
  settings.MSNActive = false;
  Command(kPauseCommand);
  Command(kPauseCommand);
  EXPECT_EQ(Take(), (Calls{"msn clear", "msn set "}));
}

TEST_F(Dispatch, ANoticeDuringPauseResetsItSoTheNextPauseClearsAgain) {
  Notice(0);
  Command(kPauseCommand);
  fakeNow += 100;
  Notice(0);  // a repeat, not published, but it still ends the pause
  EXPECT_FALSE(dispatch.Paused());
  Take();
  Command(kPauseCommand);
  EXPECT_EQ(Take(), (Calls{"msn clear"}));
}

TEST_F(Dispatch, StopClearsAndEndsThePause) {
  Command(kPauseCommand);
  Command(kStopCommand);
  EXPECT_FALSE(dispatch.Paused());
  EXPECT_EQ(Take(), (Calls{"msn clear", "msn clear"}));
}

TEST_F(Dispatch, EndOfFileClearsOnlyWithMsnClearAndKeepsThePause) {
  settings.MSNClear = false;
  dispatch.OnMainMessage(kEndOfFileMessage, 0);
  EXPECT_EQ(Take(), Calls{});
  settings.MSNClear = true;
  Command(kPauseCommand);
  dispatch.OnMainMessage(kEndOfFileMessage, 0);
  EXPECT_TRUE(dispatch.Paused());
  EXPECT_EQ(Take(), (Calls{"msn clear", "msn clear"}));
}

TEST_F(Dispatch, ResetForgetsTheLastFileAndThePause) {
  Notice(0);
  Command(kPauseCommand);
  dispatch.Reset();
  EXPECT_FALSE(dispatch.Paused());
  EXPECT_EQ(dispatch.LastFileTick(), 0u);
  Take();
  Notice(0);
  EXPECT_EQ(Take().size(), 2u);
}

TEST_F(Dispatch, ThePlayRuleSeesEachTrackOnceEveryPauseAndEveryEnd) {
  settings.MSNClear = false;
  Notice(0);
  fakeNow = 2000;
  Notice(0);  // a repeat: the play goes on
  fakeNow = 5000;
  Command(kPauseCommand);
  fakeNow = 9000;
  Command(kPauseCommand);
  fakeNow = 12000;
  dispatch.OnMainMessage(kEndOfFileMessage, 0);
  Notice(1);
  fakeNow = 13000;
  Notice(2);  // ignored: the track before ends, nothing starts
  fakeNow = 14000;
  Notice(0);
  fakeNow = 15000;
  Command(kStopCommand);
  EXPECT_EQ(publishers.plays, (Calls{"start C:\\Music\\song.mp3 1000", "pause 5000", "resume 9000",
                                     "end 12000", "start C:\\Music\\other.mp3 12000", "end 13000",
                                     "start C:\\Music\\song.mp3 14000", "end 15000"}));
}

class ThrowingPublishers : public RecordingPublishers {
 public:
  void SendMircCommand(const TTrackMetaData&) override { throw std::runtime_error("DDE gone"); }
};

TEST(DispatchFailures, OneFailingDestinationDoesNotStopTheNext) {
  PluginSettings settings;
  settings.MySQLActive = true;
  FakePlayer player;
  player.playlist = {"a.mp3"};
  ThrowingPublishers publishers;
  TrackDispatch dispatch(settings, player, publishers, &FakeTick);
  fakeNow = 1;
  EXPECT_NO_THROW(dispatch.OnTrackNotice(kTrackNoticeFlag));
  EXPECT_EQ(publishers.calls, (Calls{"msn set a.mp3", "mysql a.mp3"}));
}

}  // namespace
