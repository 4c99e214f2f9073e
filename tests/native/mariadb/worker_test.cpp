// The trigger and its sender against a real server: what reaches the table, and what each logs.
#include <string>
#include <thread>
#include <vector>

#include "database/mysql.h"
#include "database/thread_mysql_updater.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "native/database_doubles.h"
#include "native/mariadb/mariadb_server.h"

using dbtest::LinesStartingWith;
using dbtest::TestPublisher;
using dbtest::WorkerRecorder;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

constexpr const char* kPerformed = "TThreadMySQLUpdater.Execute: Performing query...";

// The library's start-up leaves per-thread state in OpenSSL on the thread that runs it, freed when
// that thread ends. The sender may still be ending when the test process exits, so the test
// thread runs the start-up instead, and leak checks see only what the sender itself leaves.
void PreloadClientLibrary() { ASSERT_TRUE(LoadMySQLLibrary("libmysql.dll")); }

class Sender : public ::testing::Test {
 protected:
  void SetUp() override {
    PreloadClientLibrary();
    server_ = &MariaDBServer::Shared();
    server_->EmptyTable();
    target_.Server = "127.0.0.1";
    target_.UserName = MariaDBServer::kUser;
    target_.Password = MariaDBServer::kPassword;
    target_.Command = dbtest::kDefaultCommand;
  }

  TTrackMetaData Track(const std::string& file, const std::string& artist, const std::string& title) {
    tags_.values[{file, "artist"}] = artist;
    tags_.values[{file, "title"}] = title;
    return {file};
  }
  int Connections() const {
    return std::stoi(server_->Rows("SHOW GLOBAL STATUS LIKE 'Connections'")[0].substr(12));
  }

  // The plug-in's claim: the library is ended on this thread, after the sender lets go of it.
  MySQLLibraryUse plugin_;
  MariaDBServer* server_ = nullptr;
  MySQLTarget target_;
  dbtest::Tags tags_;
  WorkerRecorder recorder_;
};

TEST_F(Sender, EachPublishedTrackIsOneRowAndLogsTheSameLinesAsEver) {
  {
    TestPublisher publisher(recorder_);
    publisher.Publish(Track("C:\\Music\\1.mp3", "Artist One", "First"), target_, tags_);
    publisher.Publish(Track("C:\\Music\\2.mp3", "Artist Two", "Second"), target_, tags_);
    ASSERT_TRUE(recorder_.WaitForLine(kPerformed, 2));
  }
  EXPECT_THAT(server_->StoredTitlesHex(), ElementsAre(Hex("Artist One - First"), Hex("Artist Two - Second")));
  std::vector<std::string> twice = dbtest::kStatementRan;
  twice.insert(twice.end(), dbtest::kStatementRan.begin(), dbtest::kStatementRan.end());
  EXPECT_THAT(LinesStartingWith(recorder_.Lines(), "TThreadMySQLUpdater"), ElementsAreArray(twice));
  EXPECT_TRUE(recorder_.Boxes().empty());
}

TEST_F(Sender, HostileTagsAreStoredLiterallyAndTheTableSurvives) {
  const std::string artist = "Bobby'); DELETE FROM tolby.winamp_played; --";
  const std::string title = "It's \"quoted\" \\ back\\slash \\' and '); drop table winamp_played; --";
  {
    TestPublisher publisher(recorder_);
    publisher.Publish(Track("a.mp3", artist, title), target_, tags_);
    ASSERT_TRUE(recorder_.WaitForLine(kPerformed, 1));
  }
  EXPECT_THAT(server_->StoredTitlesHex(), ElementsAre(Hex(artist + " - " + title)));
  EXPECT_TRUE(recorder_.Boxes().empty());
}

TEST_F(Sender, AQuoteStaysInsideItsStringWhenTheServerTakesBackslashesLiterally) {
  server_->Rows("SET GLOBAL sql_mode = 'NO_BACKSLASH_ESCAPES'");
  const std::string title = "x', (select 1)) -- ";
  {
    TestPublisher publisher(recorder_);
    publisher.Publish(Track("a.mp3", "A", title), target_, tags_);
    ASSERT_TRUE(recorder_.WaitForLine(kPerformed, 1));
  }
  server_->Rows("SET GLOBAL sql_mode = DEFAULT");
  EXPECT_THAT(server_->StoredTitlesHex(), ElementsAre(Hex("A - " + title)));
  EXPECT_TRUE(recorder_.Boxes().empty());
}

TEST_F(Sender, ARefusedStatementShowsItsBoxOnceGoesToTheFailedListAndTheRowsBehindItArrive) {
  TestPublisher publisher(recorder_);
  MySQLTarget bad = target_;
  bad.Command = "insert into `tolby`.`no_such_table` (`fulltitle`) values ('%title%')";
  publisher.Publish(Track("a.mp3", "A", "T"), bad, tags_);
  // The statement ends inside the string literal at the NUL, so the server refuses what is left.
  publisher.Publish(Track("n.mp3", "A", std::string("x\0'); drop table winamp_played; --", 34)), target_,
                    tags_);
  publisher.Publish(Track("b.mp3", "B", "Behind"), target_, tags_);
  ASSERT_TRUE(recorder_.WaitForLine(kPerformed, 3));
  ASSERT_TRUE(recorder_.WaitForBoxes(2));
  publisher.Resume(target_);  // one more turn, after which the figures are up to date
  ASSERT_TRUE(recorder_.WaitForLine("TThreadMySQLUpdater.Execute: finished", 3));
  EXPECT_TRUE(publisher->Stop(std::chrono::seconds(120)));

  EXPECT_THAT(server_->StoredTitlesHex(), ElementsAre(Hex("B - Behind")));
  EXPECT_EQ(publisher->Status().failed, 2);
  EXPECT_EQ(publisher->Status().waiting, 0);
  const auto boxes = recorder_.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].report,
            "MySQL said:\r\nTable 'tolby.no_such_table' doesn't exist\r\nQuery: \r\n"
            "insert into `tolby`.`no_such_table` (`fulltitle`) values ('T')");
  // Not the sender's thread either, which goes on meanwhile.
  EXPECT_NE(boxes[0].thread, std::this_thread::get_id());
}

TEST_F(Sender, TracksPlayedWhileTheServerIsAwayArriveInOrderOnceItIsBack) {
  TestPublisher publisher(recorder_, std::chrono::hours(1));
  {
    ClientPortSwap nobodyListens(FreeLoopbackPort());
    for (int i = 1; i <= 5; ++i)
      publisher.Publish(Track(std::to_string(i) + ".mp3", "A", std::to_string(i)), target_, tags_);
    // Whenever the last track came, a try follows its hand-over.
    ASSERT_TRUE(recorder_.WaitForLine(
        "Outbox: mysql: 5 entries wait; trying again in 3600 s or at the next track (", 1));
  }
  EXPECT_TRUE(server_->StoredTitlesHex().empty());
  publisher.Resume(target_);
  ASSERT_TRUE(recorder_.WaitForLine(kPerformed, 5));
  EXPECT_TRUE(publisher->Stop(std::chrono::seconds(120)));
  EXPECT_THAT(server_->StoredTitlesHex(),
              ElementsAre(Hex("A - 1"), Hex("A - 2"), Hex("A - 3"), Hex("A - 4"), Hex("A - 5")));
}

TEST_F(Sender, ABurstOfTwoHundredTracksMakesOneConnection) {
  const int before = Connections();
  std::vector<std::string> expected;
  {
    TestPublisher publisher(recorder_);
    for (int i = 0; i < 200; ++i) {
      publisher.Publish(Track(std::to_string(i) + ".mp3", "Burst", std::to_string(i)), target_, tags_);
      expected.push_back(Hex("Burst - " + std::to_string(i)));
    }
    ASSERT_TRUE(recorder_.WaitForLine(kPerformed, 200));
  }
  // The one connection that reads the figure is counted too.
  EXPECT_EQ(Connections() - before, 2);
  EXPECT_EQ(server_->StoredTitlesHex(), expected);
}

}  // namespace
