// Scrobbling inside the stand-in player with the real DLL and WinHTTP, against the ListenBrainz and
// Last.fm stand-ins that with_standins.sh started. The player's clock runs 100 times faster, so a
// track of 40 s counts after 200 ms.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "wine/scrobble/standin_client.h"
#include "wine/wine_support.h"

namespace {

using namespace wine;
using json = nlohmann::json;

const std::vector<std::string> kFastClock = {"SKORREL_TEST_CLOCK_RATE=100"};

// Four tracks of 40 s, and a short one that never counts.
const char* const kPlaylist =
    "C:\\Music\\a.mp3\n  artist=Sigur Rós\n  title=Glósóli\n  album=Takk...\n  length=40\n"
    "C:\\Music\\b.mp3\n  artist=Björk\n  title=Jóga\n  length=40\n"
    "C:\\Music\\c.mp3\n  artist=Múm\n  title=Green Grass of Tunnel\n  length=40\n"
    "C:\\Music\\d.mp3\n  artist=Amiina\n  title=Seoul\n  length=40\n"
    "C:\\Music\\e.mp3\n  artist=Jónsi\n  title=Short\n  length=20\n";

class Scrobbling : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(listenBrainz.Running() && lastFm.Running())
        << "run through tests/wine/scrobble/with_standins.sh, which starts the stand-ins";
    listenBrainz.Reset();
    lastFm.Reset();
    DeleteSettings();
    UseOutboxIn(dir);
    SetDword("mIRC Active", 0);
    SetDword("MSN Active", 0);
    SetString("CSDebug", "viewer.example");
    dispatcher =
        std::make_unique<ChildProcess>("\"" + BinDir() + "\\dispatcher_standin.exe\" \"" + record + "\"");
    ASSERT_TRUE(WaitForWindow("TFrmDispatcher", "CodeSite Dispatcher", 10000));
  }
  void TearDown() override {
    player.reset();
    DeleteSettings();
  }

  bool UsesListenBrainz() const { return std::string(GetParam()) != "lastfm"; }
  bool UsesLastFm() const { return std::string(GetParam()) != "listenbrainz"; }
  Standin& Service() { return UsesListenBrainz() ? listenBrainz : lastFm; }
  void Activate(const std::string& token = "lb-token") {
    if (UsesListenBrainz()) {
      SetDword("ListenBrainz Active", 1);
      SetSecret("ListenBrainz Token", token);
      SetString("ListenBrainz API", listenBrainz.root);
    }
    if (UsesLastFm()) {
      SetDword("Last.fm Active", 1);
      SetString("Last.fm API Key", "lfm-key");
      SetSecret("Last.fm API Secret", "lfm-secret");
      SetSecret("Last.fm Session Key", token == "lb-token" ? "lfm-session" : token);
      SetString("Last.fm API", lastFm.root + "/2.0/");
    }
  }

  // Runs the script, then waits for the test's go before it quits.
  void Start(const std::string& script) {
    player =
        StartPlayer(dir, kPlaylist, script + "waitevent " + quit.Name() + " 120000\nquit\nwaitunload 10000\n",
                    kFastClock);
    ASSERT_TRUE(player->Started());
  }
  // Waits until the player has reached its nth waitevent.
  void Reached(std::size_t nth) {
    ASSERT_EQ(RecordLines(dir.File("player.out"), "action waitevent", nth, 60000).size(), nth);
  }
  long Quit() {
    quit.Set();
    EXPECT_EQ(player->Wait(30000), 0) << "the player hangs";
    quit.Reset();
    return QuitMs(ReadLines(dir.File("player.out")));
  }

  Standin listenBrainz{"SKORREL_LISTENBRAINZ_PORT"}, lastFm{"SKORREL_LASTFM_PORT"};
  TempDir dir;
  const std::string record = dir.File("log.txt");
  std::unique_ptr<ChildProcess> dispatcher;
  Go quit, go;
  std::unique_ptr<ChildProcess> player;
};

using BothServices = Scrobbling;
using EachService = Scrobbling;

TEST_P(BothServices, APlayedTrackArrivesOnceAtEachWithItsFields) {
  Activate();
  // Repeated notices, a pause and its resume: still one play, which counts at the stop; a short
  // track after it is only playing now.
  Start("play 0 3 10\nwait 100\npause\nwait 300\npause\nwait 200\nstop\nplay 4\nwait 100\nstop\n");
  const std::vector<std::string> nowPlaying{"Glósóli", "Short"};
  EXPECT_EQ(listenBrainz.Titles(3, 30, true), nowPlaying);
  EXPECT_EQ(lastFm.Titles(3, 30, true), nowPlaying);
  EXPECT_LT(Quit(), 2000);
  const json brainz = listenBrainz.Plays(), fm = lastFm.Plays();
  ASSERT_EQ(brainz.size(), 1u) << brainz.dump();
  ASSERT_EQ(fm.size(), 1u) << fm.dump();
  EXPECT_EQ(brainz[0]["kind"], "single");
  const json& metadata = brainz[0]["track_metadata"];
  EXPECT_EQ(metadata["artist_name"], "Sigur Rós");
  EXPECT_EQ(metadata["track_name"], "Glósóli");
  EXPECT_EQ(metadata["release_name"], "Takk...");
  EXPECT_EQ(metadata["additional_info"]["duration_ms"], 40000);
  EXPECT_EQ(metadata["additional_info"]["media_player"], "Winamp");
  EXPECT_EQ(metadata["additional_info"]["submission_client"], "Skorrel");
  EXPECT_GT(brainz[0]["listened_at"].get<long long>(), 1700000000);
  json scrobble = fm[0];
  scrobble.erase("at");
  EXPECT_EQ(scrobble, (json{{"method", "track.scrobble"},
                            {"artist", "Sigur Rós"},
                            {"track", "Glósóli"},
                            {"album", "Takk..."},
                            {"duration", "40"},
                            {"play", true},
                            {"timestamp", std::to_string(brainz[0]["listened_at"].get<long long>())}}));
}

// Once back, the service refuses the batch for the play of "Jóga": that play alone goes to the
// failed list, and the others arrive in order.
TEST_P(EachService, PlaysMadeWhileItIsDownArriveInOrderOnceItIsBackButTheOneItRefuses) {
  Activate();
  Service().Answer("503 always");
  Start("play 0\nwait 300\nplay 1\nwait 300\nplay 2\nwait 300\nplay 3\nwait 300\nstop\nwaitevent " +
        go.Name() + " 60000\nplay 4\nwait 100\nstop\n");
  Reached(1);
  Service().Answer("reject Jóga");
  go.Set();
  EXPECT_EQ(Service().Titles(3), (std::vector<std::string>{"Glósóli", "Green Grass of Tunnel", "Seoul"}));
  EXPECT_LT(Quit(), 2000);
  EXPECT_EQ(Service().Plays().size(), 3u);
}

TEST_P(EachService, A429WaitsAsLongAsRetryAfterSays) {
  Activate();
  Service().Answer("429 3");
  Start("play 0\nwait 300\nstop\n");
  const json seen = Service().Wait(1, 30, true, 1);
  ASSERT_EQ(seen["accepted"].size(), 1u);
  ASSERT_EQ(seen["scripted"].size(), 1u);
  EXPECT_GE(seen["accepted"][0]["at"].get<double>() - seen["scripted"][0]["at"].get<double>(), 2.9);
  EXPECT_LT(Quit(), 2000);
}

TEST_P(EachService, ARefusedTokenKeepsThePlaysAndStopsUntilTheNextStart) {
  Activate("wrong");
  Start("play 0\nwait 300\nplay 1\nwait 300\nstop\n");
  // Said once, with what to do, however many plays follow.
  ASSERT_TRUE(WaitForPluginLog(record, "Outbox: " + std::string(GetParam()) + ": ", 30000));
  EXPECT_NE(LinesStartingWith(PluginLog(record), "Outbox: ")
                .at(0)
                .find("nothing is sent until the settings are saved"),
            std::string::npos);
  EXPECT_LT(Quit(), 2000);
  EXPECT_TRUE(Service().Plays().empty());
  EXPECT_EQ(LinesStartingWith(PluginLog(record), "Outbox: " + std::string(GetParam()) + ": ").size(), 1u);
  Activate();
  Start("");
  EXPECT_EQ(Service().Titles(2), (std::vector<std::string>{"Glósóli", "Jóga"}));
  EXPECT_LT(Quit(), 2000);
}

TEST_P(BothServices, AQuitWhileARequestHangsTakesUnderTwoSecondsAndKeepsThePlay) {
  Activate();
  listenBrainz.Answer("hang");
  lastFm.Answer("hang");
  Start("play 0\nwait 300\nstop\n");
  ASSERT_EQ(listenBrainz.Wait(0, 30, true, 1)["scripted"].size(), 1u);
  ASSERT_EQ(lastFm.Wait(0, 30, true, 1)["scripted"].size(), 1u);
  EXPECT_LT(Quit(), 2000);
  listenBrainz.Answer("");
  lastFm.Answer("");
  Start("");
  EXPECT_EQ(listenBrainz.Titles(1), std::vector<std::string>{"Glósóli"});
  EXPECT_EQ(lastFm.Titles(1), std::vector<std::string>{"Glósóli"});
  EXPECT_LT(Quit(), 2000);
}

INSTANTIATE_TEST_SUITE_P(Scrobbling, BothServices, ::testing::Values("both"));
INSTANTIATE_TEST_SUITE_P(Scrobbling, EachService, ::testing::Values("listenbrainz", "lastfm"));

}  // namespace
