#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>

#include "native/outbox_doubles.h"
#include "scrobble/lastfm.h"
#include "scrobble/listenbrainz.h"
#include "scrobble/play_rule.h"
#include "scrobble/scrobbler.h"

namespace {

using nlohmann::json;
using outboxtest::Lines;
using outboxtest::TempFolder;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Answers each listen's request with the next scripted response (200 and "{}" when none is left)
// and each now-playing with 200; requests are held while Hold is on, until it is off or cancelled.
class FakeHttp final : public HttpClient {
 public:
  HttpResponse Post(const HttpRequest& request) override {
    std::unique_lock<std::mutex> lock(lock_);
    requests_.push_back(request);
    changed_.notify_all();
    changed_.wait(lock, [&] { return !hold_ || cancelled_; });
    if (cancelled_) return {0, {}, "", "cancelled"};
    HttpResponse response{200, {}, "{}", ""};
    const bool live = request.body.find("playing_now") != std::string::npos ||
                      request.body.find("updateNowPlaying") != std::string::npos;
    if (!live && !answers_.empty()) {
      response = answers_.front();
      answers_.pop_front();
    }
    return response;
  }
  void Cancel() override {
    const std::lock_guard<std::mutex> lock(lock_);
    cancelled_ = true;
    changed_.notify_all();
  }
  void Answer(int status, std::string body = "{}", std::map<std::string, std::string> headers = {}) {
    const std::lock_guard<std::mutex> lock(lock_);
    answers_.push_back({status, std::move(headers), std::move(body), status == 0 ? "lost" : ""});
  }
  void Hold(bool hold) {
    const std::lock_guard<std::mutex> lock(lock_);
    hold_ = hold;
    changed_.notify_all();
  }
  bool WaitRequests(std::size_t count) {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return requests_.size() >= count; });
  }
  std::vector<HttpRequest> Requests() {
    const std::lock_guard<std::mutex> lock(lock_);
    return requests_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<HttpResponse> answers_;
  std::vector<HttpRequest> requests_;
  bool hold_ = false, cancelled_ = false;
};

Listen Play(const std::string& title, std::int64_t at = 1700000000) {
  return {"Sigur Rós", title, "Takk...", 240, at, "id-" + title};
}

// A ListenBrainz body's type and its tracks' names, in order.
std::pair<std::string, std::vector<std::string>> Submitted(const HttpRequest& request) {
  const json body = json::parse(request.body);
  std::vector<std::string> tracks;
  for (const json& listen : body["payload"]) tracks.push_back(listen["track_metadata"]["track_name"]);
  return {body["listen_type"], tracks};
}

TEST(PlayRule, CountsAfterHalfOrFourMinutesOfPlayLongerThanThirtySecondsOnce) {
  // Each step: 's' start, 'p' pause, 'r' resume, 'e' end, at its time in seconds.
  struct Case {
    const char* what;
    long long lengthS;
    std::vector<std::pair<char, std::uint32_t>> steps;
    bool counts;
  };
  const Case cases[] = {
      {"half of a 3-minute track", 180, {{'s', 0}, {'e', 90}}, true},
      {"a stop before half", 180, {{'s', 0}, {'e', 89}}, false},
      {"4 minutes of a 20-minute track", 1200, {{'s', 0}, {'e', 240}}, true},
      {"less than 4 minutes of a 20-minute track", 1200, {{'s', 0}, {'e', 239}}, false},
      {"unknown length: 4 minutes", 0, {{'s', 0}, {'e', 240}}, true},
      {"unknown length: less", -1, {{'s', 0}, {'e', 200}}, false},
      {"a 25 s track played whole", 25, {{'s', 0}, {'e', 25}}, false},
      {"a 30 s track played whole", 30, {{'s', 0}, {'e', 30}}, false},
      {"a long pause does not count", 180, {{'s', 0}, {'p', 60}, {'r', 1000}, {'e', 1020}}, false},
      {"play on both sides of a pause", 180, {{'s', 0}, {'p', 60}, {'r', 1000}, {'e', 1030}}, true},
      {"pause pressed twice, resumed twice",
       180,
       {{'s', 0}, {'p', 50}, {'p', 70}, {'r', 100}, {'r', 120}, {'e', 139}},
       false},
      {"ended while paused", 180, {{'s', 0}, {'p', 100}, {'e', 5000}}, true},
      {"across the tick counter's wrap", 180, {{'s', 4294900}, {'e', 4294900 + 100}}, true},
  };
  for (const Case& c : cases) {
    PlayRule rule;
    bool counted = false;
    for (const auto& [step, atS] : c.steps) {
      const std::uint32_t ms = atS * 1000u;
      if (step == 's') rule.Start(c.lengthS, ms);
      if (step == 'p') rule.Pause(ms);
      if (step == 'r') rule.Resume(ms);
      if (step == 'e') counted = rule.End(ms);
    }
    EXPECT_EQ(counted, c.counts) << c.what;
    // However often the end is repeated, a play counts once.
    EXPECT_FALSE(rule.End(c.steps.back().second * 1000u + 1000000)) << c.what;
  }
}

TEST(LastFm, SignsEveryParameterButFormatSortedByteWiseWithTheSecret) {
  // Reckoned apart from this code: md5 over the names and values in byte order, artist[10]
  // before artist[2], the UTF-8 of the texts and of the secret as they are.
  const LastFmParams params{
      {"method", "track.scrobble"},   {"api_key", "0123abcd"},        {"sk", "sess1"},
      {"artist[2]", "Björk"},         {"artist[10]", "Sigur Rós"},    {"track[2]", "Jóga"},
      {"track[10]", "Hoppípolla"},    {"timestamp[2]", "1700000000"}, {"format", "json"},
      {"timestamp[10]", "1700000300"}};
  EXPECT_EQ(LastFmSignature(params, "s3cr€t"), "b89eb668224a89be49dad3070278d743");

  const HttpRequest request = LastFmRequest({"0123abcd", "s3cr€t", "", "http://127.0.0.1/2.0/"},
                                            LastFmScrobbleParams({Play("Hoppípolla"), Play("Jóga")}));
  EXPECT_EQ(request.url, "http://127.0.0.1/2.0/");
  EXPECT_THAT(request.body, HasSubstr("artist%5B0%5D=Sigur%20R%C3%B3s&artist%5B1%5D="));
  EXPECT_THAT(request.body, HasSubstr("&format=json&"));
  EXPECT_THAT(request.body, HasSubstr("timestamp%5B1%5D=1700000000"));
  EXPECT_THAT(
      request.body,
      HasSubstr("api_sig=" + LastFmSignature(
                                 [] {
                                   LastFmParams p = LastFmScrobbleParams({Play("Hoppípolla"), Play("Jóga")});
                                   p["api_key"] = "0123abcd";
                                   return p;
                                 }(),
                                 "s3cr€t")));
  EXPECT_EQ(LastFmAuthUrl("k y", "t"), "https://www.last.fm/api/auth/?api_key=k%20y&token=t");
}

TEST(ListenBrainz, PayloadsNameTheirTypeAndEveryListenFitsTheServiceLimit) {
  Listen bare = Play("Glósóli");
  bare.album.clear();
  bare.lengthS = 0;
  const json single = json::parse(ListenBrainzPayload("single", {Play("Glósóli")}));
  EXPECT_EQ(single["listen_type"], "single");
  const json& listen = single["payload"][0];
  EXPECT_EQ(listen["listened_at"], 1700000000);
  EXPECT_EQ(listen["track_metadata"]["artist_name"], "Sigur Rós");
  EXPECT_EQ(listen["track_metadata"]["release_name"], "Takk...");
  EXPECT_EQ(listen["track_metadata"]["additional_info"]["duration_ms"], 240000);
  EXPECT_EQ(listen["track_metadata"]["additional_info"]["submission_client"], "Skorrel");
  EXPECT_EQ(listen["track_metadata"]["additional_info"]["media_player"], "Winamp");

  const json now = json::parse(ListenBrainzPayload("playing_now", {bare}));
  EXPECT_FALSE(now["payload"][0].contains("listened_at"));
  EXPECT_FALSE(now["payload"][0]["track_metadata"].contains("release_name"));
  EXPECT_FALSE(now["payload"][0]["track_metadata"]["additional_info"].contains("duration_ms"));

  // Tags as long as the player gives, one with a NUL, multi-byte characters where the cut falls.
  Listen huge = Play(std::string(4000, 'x') + '\0' + "end");
  huge.artist = std::string(1, 'a');
  for (int i = 0; i < 2000; ++i) huge.artist += "ö";
  huge.album = std::string(4095, '"');
  const json import = json::parse(ListenBrainzPayload("import", {huge, Play("Sæglópur")}));
  ASSERT_EQ(import["payload"].size(), 2u);
  EXPECT_LT(import["payload"][0].dump().size(), kListenBrainzMaxListenBytes);
  const std::string track = import["payload"][0]["track_metadata"]["track_name"];
  EXPECT_EQ(track.find('\0'), std::string::npos);
  EXPECT_EQ(import["payload"][1]["track_metadata"]["track_name"], "Sæglópur");
}

TEST(ScrobbleAnswers, EachServicesAnswerIsTransientRefusedForGoodOrABadPlay) {
  struct Case {
    int status;
    const char* body;
    Verdict listenBrainz, lastFm;
  };
  const Case cases[] = {
      {200, R"({"status":"ok"})", Verdict::Ok, Verdict::Ok},
      {0, "", Verdict::Transient, Verdict::Transient},
      {429, "{}", Verdict::Transient, Verdict::Transient},
      {503, R"({"code":503,"error":"down"})", Verdict::Transient, Verdict::Transient},
      {401, R"({"code":401,"error":"Invalid authorization token."})", Verdict::Unauthorized,
       Verdict::Unauthorized},
      {400, R"({"code":400,"error":"bad listen"})", Verdict::Bad, Verdict::Bad},
      {413, "", Verdict::Bad, Verdict::Bad},
      // Last.fm's own codes, with an HTTP error or without.
      {403, R"({"error":9,"message":"Invalid session key"})", Verdict::Bad, Verdict::Unauthorized},
      {200, R"({"error":13,"message":"Invalid method signature"})", Verdict::Ok, Verdict::Unauthorized},
      {200, R"({"error":29,"message":"Rate limit exceeded"})", Verdict::Ok, Verdict::Transient},
      {200, R"({"error":16,"message":"try again"})", Verdict::Ok, Verdict::Transient},
      {400, R"({"error":6,"message":"Invalid parameters"})", Verdict::Bad, Verdict::Bad},
  };
  for (const Case& c : cases) {
    const HttpResponse response{c.status, {}, c.body, c.status == 0 ? "time-out" : ""};
    std::string error;
    EXPECT_EQ(JudgeLastFm(response, error), c.lastFm) << c.status << c.body;
    if (c.lastFm != Verdict::Ok) {
      EXPECT_FALSE(error.empty()) << c.status << c.body;
    }
  }
  // ListenBrainz's verdicts through its sender: the first play of a fresh queue each time.
  for (const Case& c : cases) {
    TempFolder folder;
    auto http = std::make_shared<FakeHttp>();
    http->Answer(c.status, c.body);
    HistorySenderOptions options;
    options.queue = "listenbrainz";
    options.firstRetry = std::chrono::hours(1);
    auto service = std::make_shared<ListenBrainzService>(http, std::chrono::milliseconds(0));
    service->SetTarget({"token", "http://127.0.0.1:1/"});
    const HistoryDestination::Result result = service->Send({1, ListenBody(Play("a")), 0});
    const HistoryDestination::Outcome expected[] = {
        HistoryDestination::Outcome::Sent, HistoryDestination::Outcome::Retry,
        HistoryDestination::Outcome::Halt, HistoryDestination::Outcome::Refused};
    EXPECT_EQ(result.outcome, expected[static_cast<int>(c.listenBrainz)]) << c.status << c.body;
    EXPECT_EQ(http->Requests().at(0).url, "http://127.0.0.1:1/1/submit-listens");
    EXPECT_THAT(http->Requests().at(0).headers, ElementsAre(std::make_pair("Authorization", "Token token")));
  }
}

TEST(RequestPace, WaitsASecondOrWhatTheServiceAsks) {
  struct Case {
    std::map<std::string, std::string> headers;
    int seconds;
  };
  const Case cases[] = {
      {{}, 1},
      {{{"retry-after", "30"}}, 30},
      {{{"retry-after", "Wed, 21 Oct 2015 07:28:00 GMT"}}, 1},
      {{{"x-ratelimit-remaining", "0"}, {"x-ratelimit-reset-in", "7"}}, 7},
      {{{"x-ratelimit-remaining", "5"}, {"x-ratelimit-reset-in", "7"}}, 1},
      {{{"retry-after", "99999"}}, 3600},
  };
  for (const Case& c : cases) {
    RequestPace pace;
    const auto now = RequestPace::Clock::now();
    pace.After({429, c.headers, "", ""}, now);
    EXPECT_EQ(pace.Next() - now, std::chrono::seconds(c.seconds));
  }
}

// Both services' senders on one outbox file, each with its own HTTP double.
struct ScrobbleFixture {
  ScrobbleFixture() {
    HistorySenderOptions options;
    options.log = lines.Log();
    options.firstRetry = std::chrono::hours(1);
    int made = 0;
    scrobbler = std::make_unique<Scrobbler>([&] { return made++ == 0 ? listenBrainz : lastFm; }, options,
                                            std::chrono::milliseconds(0));
    targets.listenBrainzActive = targets.lastFmActive = true;
    targets.listenBrainz = {"token", "http://127.0.0.1:1"};
    targets.lastFm = {"key", "secret", "session", "http://127.0.0.1:2/2.0/"};
    targets.outboxPath = folder.File("outbox.sqlite3");
  }
  ~ScrobbleFixture() { EXPECT_TRUE(scrobbler->Stop(std::chrono::seconds(60))); }
  // A track started at tick, played whole by the next start.
  void Played(const std::string& title, std::uint32_t tick) {
    scrobbler->Start(Play(title, tick), tick * 1000, targets);
  }
  std::int64_t Waiting(const char* queue) {
    return Outbox(targets.outboxPath, queue, nullptr).Counts().waiting;
  }

  TempFolder folder;
  Lines lines;
  std::shared_ptr<FakeHttp> listenBrainz = std::make_shared<FakeHttp>(),
                            lastFm = std::make_shared<FakeHttp>();
  ScrobbleTargets targets;
  std::unique_ptr<Scrobbler> scrobbler;
};

TEST(Scrobbler, EachServiceGetsNowPlayingAndThenTheListenOnItsOwnQueue) {
  ScrobbleFixture f;
  // Last.fm hangs; ListenBrainz is not held up by it.
  f.lastFm->Hold(true);
  f.Played("Glósóli", 1000);
  ASSERT_TRUE(f.listenBrainz->WaitRequests(1));
  EXPECT_EQ(Submitted(f.listenBrainz->Requests()[0]).first, "playing_now");
  f.scrobbler->End(1200 * 1000, f.targets);
  ASSERT_TRUE(f.listenBrainz->WaitRequests(2));
  EXPECT_EQ(Submitted(f.listenBrainz->Requests()[1]),
            std::make_pair(std::string("single"), std::vector<std::string>{"Glósóli"}));
  ASSERT_TRUE(f.lastFm->WaitRequests(1));
  EXPECT_THAT(f.lastFm->Requests()[0].body, HasSubstr("method=track.updateNowPlaying"));
  // The quit gives up the hanging request; the listen behind it stays queued, never the
  // now-playing.
  ASSERT_TRUE(f.scrobbler->Stop(std::chrono::seconds(60)));
  EXPECT_EQ(f.lastFm->Requests().size(), 1u);
  EXPECT_EQ(f.Waiting(kListenBrainzQueue), 0);
  EXPECT_EQ(f.Waiting(kLastFmQueue), 1);
}

TEST(Scrobbler, ABacklogGoesAsOneImportInOrderAndABatchRefusedWholeGoesOnePlayAtATime) {
  ScrobbleFixture f;
  f.targets.lastFmActive = false;
  f.Played("1", 1000);
  ASSERT_TRUE(f.listenBrainz->WaitRequests(1));
  // The first listen's request hangs while two more are played, then the service answers 503.
  f.listenBrainz->Hold(true);
  f.scrobbler->End(2000 * 1000, f.targets);
  ASSERT_TRUE(f.listenBrainz->WaitRequests(2));
  for (const auto& [title, tick] : {std::pair{"2", 3000}, {"3", 5000}}) {
    f.Played(title, tick);
    f.scrobbler->End((tick + 1000) * 1000, f.targets);
  }
  f.listenBrainz->Answer(503, R"({"code":503,"error":"down"})");
  // The import of all three is refused whole for the second play's sake.
  f.listenBrainz->Answer(400, R"({"code":400,"error":"bad listen"})");
  f.listenBrainz->Answer(200);
  f.listenBrainz->Answer(400, R"({"code":400,"error":"bad listen"})");
  f.listenBrainz->Hold(false);
  ASSERT_TRUE(f.listenBrainz->WaitRequests(7));
  std::vector<std::pair<std::string, std::vector<std::string>>> sent;
  for (const HttpRequest& request : f.listenBrainz->Requests()) sent.push_back(Submitted(request));
  using S = std::vector<std::string>;
  // Only the latest now-playing goes: "2" was replaced by "3" before the sender was free.
  EXPECT_THAT(sent, ElementsAre(std::pair{"playing_now", S{"1"}}, std::pair{"single", S{"1"}},
                                std::pair{"playing_now", S{"3"}}, std::pair{"import", S{"1", "2", "3"}},
                                std::pair{"single", S{"1"}}, std::pair{"single", S{"2"}},
                                std::pair{"single", S{"3"}}));
  ASSERT_TRUE(f.scrobbler->Stop(std::chrono::seconds(60)));
  const OutboxCounts counts = Outbox(f.targets.outboxPath, kListenBrainzQueue, nullptr).Counts();
  EXPECT_EQ(counts.waiting, 0);
  EXPECT_EQ(counts.failed, 1);
}

TEST(Scrobbler, ARefusedTokenKeepsThePlaysAndStopsSendingUntilTheSettingsAreSaved) {
  ScrobbleFixture f;
  f.targets.lastFmActive = false;
  f.listenBrainz->Answer(401, R"({"code":401,"error":"Invalid authorization token."})");
  f.Played("1", 1000);
  f.scrobbler->End(2000 * 1000, f.targets);
  ASSERT_TRUE(f.listenBrainz->WaitRequests(2));
  // Neither a new play nor its now-playing is sent while halted.
  f.Played("2", 3000);
  f.scrobbler->End(4000 * 1000, f.targets);
  ASSERT_TRUE(f.scrobbler->Stop(std::chrono::seconds(60)));
  EXPECT_EQ(f.listenBrainz->Requests().size(), 2u);
  EXPECT_EQ(f.Waiting(kListenBrainzQueue), 2);
  EXPECT_THAT(f.lines.Get(), Contains(AllOf(HasSubstr("nothing is sent until the settings are saved"),
                                            HasSubstr("copy the user token"))));
  // The save starts it again: both go, in order.
  f.scrobbler->Apply(f.targets);
  ASSERT_TRUE(f.listenBrainz->WaitRequests(3));
  EXPECT_EQ(Submitted(f.listenBrainz->Requests()[2]).second, (std::vector<std::string>{"1", "2"}));
}

}  // namespace
