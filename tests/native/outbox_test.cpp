// The outbox and its sender: order, the failed list, the limits, damaged files, back-off and stop.
#include "outbox/outbox.h"

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "native/outbox_doubles.h"
#include "outbox/history_sender.h"

using outboxtest::Lines;
using outboxtest::ScriptedDestination;
using outboxtest::TempFolder;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Outcome = HistoryDestination::Outcome;

namespace {

std::vector<std::string> Bodies(const std::vector<OutboxEntry>& entries) {
  std::vector<std::string> bodies;
  for (const auto& entry : entries) bodies.push_back(entry.body);
  return bodies;
}

TEST(Outbox, KeepsThePlaysInOrderThroughFailuresRetriesAndReopening) {
  TempFolder folder;
  const std::string path = folder.File("outbox.sqlite3");
  Lines lines;
  {
    Outbox outbox(path, "mysql", lines.Log());
    Outbox other(path, "other", lines.Log());
    ASSERT_EQ(outbox.Store({"a", "b", std::string("c\0c", 3), "d"}, 100), 4u);
    other.Store({"x"}, 100);
    const auto entries = outbox.Oldest(10);
    ASSERT_THAT(Bodies(entries), ElementsAre("a", "b", std::string("c\0c", 3), "d"));
    outbox.MoveToFailed(entries[1].id, "refused");
    outbox.Remove(entries[0].id);
    EXPECT_EQ(outbox.Counts().waiting, 2);
    EXPECT_EQ(outbox.Counts().failed, 1);
    EXPECT_EQ(outbox.Counts().bytes, 4);
    // Sent again, the failed play goes back before the ones that came after it.
    EXPECT_EQ(outbox.RetryFailed(), 1);
    EXPECT_THAT(Bodies(outbox.Oldest(10)), ElementsAre("b", std::string("c\0c", 3), "d"));
    outbox.MoveToFailed(outbox.Oldest(1)[0].id, "refused again");
  }
  Outbox reopened(path, "mysql", lines.Log());
  EXPECT_THAT(Bodies(reopened.Oldest(10)), ElementsAre(std::string("c\0c", 3), "d"));
  EXPECT_EQ(reopened.Counts().failed, 1);
  EXPECT_EQ(reopened.DiscardFailed(), 1);
  EXPECT_EQ(reopened.Counts().failed, 0);
  EXPECT_THAT(Bodies(Outbox(path, "other", lines.Log()).Oldest(10)), ElementsAre("x"));
  EXPECT_TRUE(lines.Get().empty());
}

TEST(Outbox, BeyondItsLimitsRefusesNewEntriesKeepsTheOldestAndSaysSoOncePerChange) {
  TempFolder folder;
  Lines lines;
  Outbox outbox(folder.File("o.sqlite3"), "mysql", lines.Log(), OutboxLimits{3, 100});
  EXPECT_EQ(outbox.Store({"a", "b", "c", "d"}, 1), 3u);
  EXPECT_EQ(outbox.Store({"e"}, 1), 0u);
  EXPECT_EQ(lines.Get().size(), 1u);
  outbox.Remove(outbox.Oldest(1)[0].id);
  EXPECT_EQ(outbox.Store({"f"}, 1), 1u);
  EXPECT_THAT(Bodies(outbox.Oldest(10)), ElementsAre("b", "c", "f"));
  Outbox bytes(folder.File("b.sqlite3"), "mysql", lines.Log(), OutboxLimits{100, 5});
  EXPECT_EQ(bytes.Store({"123", "456", "78"}, 1), 2u);
  EXPECT_THAT(lines.Get(), ElementsAre(HasSubstr("queue is full"), HasSubstr("has room again"),
                                       HasSubstr("queue is full")));
}

TEST(Outbox, ADamagedFileIsSetAsideAndANewOneMade) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> damage;
  };
  const Case cases[] = {
      {"not a database", [](const std::string& path) { std::ofstream(path) << "this is a text file\n"; }},
      {"garbled pages",
       [](const std::string& path) {
         {
           Outbox outbox(path, "mysql", nullptr);
           outbox.Store(std::vector<std::string>(200, std::string(500, 'x')), 1);
         }
         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(4096 + 100);
         file << std::string(8000, '\x5a');
       }},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    const std::string path = folder.File("outbox.sqlite3");
    c.damage(path);
    Lines lines;
    Outbox outbox(path, "mysql", lines.Log());
    EXPECT_EQ(outbox.Counts().waiting, 0) << c.what;
    EXPECT_EQ(outbox.Store({"new"}, 1), 1u) << c.what;
    ASSERT_EQ(lines.Get().size(), 1u) << c.what;
    EXPECT_THAT(lines.Get()[0], HasSubstr("is kept as " + path + ".broken-")) << c.what;
    bool keptAside = false;
    for (const auto& name : folder.Names()) keptAside |= name.rfind("outbox.sqlite3.broken-", 0) == 0;
    EXPECT_TRUE(keptAside) << c.what;
  }
}

struct SenderFixture {
  explicit SenderFixture(std::chrono::milliseconds firstRetry) {
    HistorySenderOptions options;
    options.queue = "test";
    options.log = lines.Log();
    options.firstRetry = firstRetry;
    options.lastRetry = firstRetry * 4;
    sender = std::make_unique<HistorySender>(destination, options);
  }
  ~SenderFixture() { EXPECT_TRUE(sender->Stop(std::chrono::seconds(60))); }
  void Hand(const std::string& body) { sender->Hand(body, path); }

  TempFolder folder;
  std::string path = folder.File("outbox.sqlite3");
  Lines lines;
  std::shared_ptr<ScriptedDestination> destination = std::make_shared<ScriptedDestination>();
  std::unique_ptr<HistorySender> sender;
};

TEST(HistorySender, AFailedEntryIsTriedAgainAfterItsBackOffOrAtOnceWhenTheNextTrackComes) {
  for (const bool nextTrack : {false, true}) {
    // Without the next track only the back-off's end can bring the second try.
    SenderFixture f(nextTrack ? std::chrono::hours(1) : std::chrono::milliseconds(20));
    f.destination->Answer("1", Outcome::Retry, "server away");
    f.Hand("1");
    ASSERT_TRUE(f.destination->WaitAttempts(1));
    if (nextTrack) f.Hand("2");
    ASSERT_TRUE(f.destination->WaitSent(nextTrack ? 2 : 1));
    const std::vector<std::string> tried =
        nextTrack ? std::vector<std::string>{"1", "1", "2"} : std::vector<std::string>{"1", "1"};
    EXPECT_EQ(f.destination->Attempts(), tried);
    EXPECT_THAT(f.lines.Get(), ElementsAre(HasSubstr("test: 1 entry waits; trying again in")));
  }
}

TEST(HistorySender, ARefusedEntryGoesToTheFailedListAndTheOnesBehindItStillGo) {
  SenderFixture f(std::chrono::hours(1));
  f.destination->Answer("2", Outcome::Refused, "syntax");
  for (const char* body : {"1", "2", "3"}) f.Hand(body);
  ASSERT_TRUE(f.destination->WaitSent(2));
  EXPECT_THAT(f.destination->Sent(), ElementsAre("1", "3"));
  f.sender->Nudge(f.path);  // a turn after the last send, so the figures are up to date
  ASSERT_TRUE(f.destination->WaitAttempts(3));
  f.sender->SendFailedAgain();
  ASSERT_TRUE(f.destination->WaitSent(3));
  EXPECT_THAT(f.destination->Sent(), ElementsAre("1", "3", "2"));
}

TEST(HistorySender, StopEndsAWaitAtOnceAndLeavesAnEntryInFlightInTheOutbox) {
  {
    SenderFixture f(std::chrono::hours(1));
    f.destination->Answer("waits", Outcome::Retry, "away");
    f.Hand("waits");
    ASSERT_TRUE(f.destination->WaitAttempts(1));
    EXPECT_TRUE(f.sender->Stop(std::chrono::seconds(60)));
    EXPECT_TRUE(f.destination->ended);
    EXPECT_THAT(Bodies(Outbox(f.path, "test", nullptr).Oldest(10)), ElementsAre("waits"));
  }
  SenderFixture f(std::chrono::hours(1));
  f.destination->blockOn = "stuck";
  f.destination->Answer("stuck", Outcome::Retry, "no answer");
  f.Hand("stuck");
  ASSERT_TRUE(f.destination->WaitAttempts(1));
  f.Hand("behind");
  // The entry handed over meanwhile is not stored yet, but Stop gives up in time all the same.
  EXPECT_FALSE(f.sender->Stop(std::chrono::milliseconds(50)));
  f.destination->Release();
  EXPECT_TRUE(f.sender->Stop(std::chrono::seconds(60)));
  EXPECT_THAT(Bodies(Outbox(f.path, "test", nullptr).Oldest(10)), ElementsAre("stuck", "behind"));
}

}  // namespace
