// The trigger and its workers against a real server: what reaches the table, and what each logs.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "database/mysql.h"
#include "database/thread_mysql_updater.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "native/database_doubles.h"
#include "native/mariadb/mariadb_server.h"

using dbtest::WorkerRecorder;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAre;

namespace {

const std::vector<std::string> kWorkerRanItsStatement = {
    "MySQLSkorrel: Starting thread to send SQL to MySQL server...", "TThreadMySQLUpdater.Execute: starting",
    "TThreadMySQLUpdater.Execute: Connecting to database...",
    "TThreadMySQLUpdater.Execute: Performing query...", "TThreadMySQLUpdater.Execute: finished"};

// The library's start-up leaves per-thread state in OpenSSL on the thread that runs it, freed when
// that thread ends. A detached worker may still be ending when the test process exits, so the test
// thread runs the start-up instead, and leak checks see only what the workers themselves leave.
void PreloadClientLibrary() { ASSERT_TRUE(LoadMySQLLibrary("libmysql.dll")); }

class Workers : public ::testing::Test {
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

  void Track(const std::string& file, const std::string& artist, const std::string& title) {
    tags_.values[{file, "artist"}] = artist;
    tags_.values[{file, "title"}] = title;
  }

  // The plug-in's claim: the library is ended on this thread, after the workers let go of it.
  MySQLLibraryUse plugin_;
  MariaDBServer* server_ = nullptr;
  MySQLTarget target_;
  dbtest::Tags tags_;
  WorkerRecorder recorder_;
};

TEST_F(Workers, TheDefaultCommandStoresOneRowPerPublishedTrack) {
  Track("C:\\Music\\1.mp3", "Artist One", "First");
  Track("C:\\Music\\2.mp3", "Artist Two", "Second");
  StartMySQLUpdate({"C:\\Music\\1.mp3"}, target_, tags_, recorder_.Seams());
  StartMySQLUpdate({"C:\\Music\\2.mp3"}, target_, tags_, recorder_.Seams());
  ASSERT_TRUE(recorder_.WaitForWorkersGone(2));

  // Two connections race; either row may come first.
  EXPECT_THAT(server_->StoredTitlesHex(),
              UnorderedElementsAre(Hex("Artist One - First"), Hex("Artist Two - Second")));
  for (const auto& lines : recorder_.LinesBySet())
    EXPECT_THAT(lines, ElementsAreArray(kWorkerRanItsStatement));
  EXPECT_TRUE(recorder_.Boxes().empty());
}

TEST_F(Workers, HostileTagsAreStoredLiterallyAndTheTableSurvives) {
  const std::string artist = "Bobby'); DELETE FROM tolby.winamp_played; --";
  const std::string title = "It's \"quoted\" \\ back\\slash \\' and '); drop table winamp_played; --";
  Track("a.mp3", artist, title);
  StartMySQLUpdate({"a.mp3"}, target_, tags_, recorder_.Seams());
  ASSERT_TRUE(recorder_.WaitForWorkersGone(1));

  EXPECT_THAT(server_->StoredTitlesHex(), ElementsAre(Hex(artist + " - " + title)));
  EXPECT_TRUE(recorder_.Boxes().empty());
}

TEST_F(Workers, AValueWithANulRunsNothingPastTheNul) {
  // The statement goes out as a NUL-terminated text, so it ends inside the string literal and the
  // server rejects what is left: no row, and the rest never runs.
  Track("a.mp3", "A", std::string("x\0'); drop table winamp_played; --", 34));
  StartMySQLUpdate({"a.mp3"}, target_, tags_, recorder_.Seams());
  ASSERT_TRUE(recorder_.WaitForWorkersGone(1));

  EXPECT_TRUE(server_->StoredTitlesHex().empty());
  EXPECT_EQ(recorder_.Boxes().size(), 1u);
}

TEST_F(Workers, ARejectedStatementShowsItsBoxOnTheWorkerWhichThenFinishes) {
  target_.Command = "insert into `tolby`.`no_such_table` (`fulltitle`) values ('%title%')";
  Track("a.mp3", "A", "T");
  StartMySQLUpdate({"a.mp3"}, target_, tags_, recorder_.Seams());
  ASSERT_TRUE(recorder_.WaitForWorkersGone(1));

  const auto boxes = recorder_.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].report,
            "MySQL said:\r\nTable 'tolby.no_such_table' doesn't exist\r\nQuery: \r\n"
            "insert into `tolby`.`no_such_table` (`fulltitle`) values ('T')");
  EXPECT_NE(boxes[0].thread, std::this_thread::get_id());
  EXPECT_THAT(recorder_.Lines(), ElementsAreArray(kWorkerRanItsStatement));
}

TEST(WorkersWithoutServer, ThreeAtOnceEachLogTheConnectFailureAndFinish) {
  ClientPortSwap nobodyListens(FreeLoopbackPort());
  MySQLLibraryUse plugin;
  PreloadClientLibrary();
  MySQLTarget settings;
  settings.Server = "127.0.0.1";
  settings.UserName = "u";
  settings.Password = "p";
  settings.Command = dbtest::kDefaultCommand;
  dbtest::Tags tags;
  tags.values[{"a.mp3", "title"}] = "T";
  WorkerRecorder recorder;
  for (int i = 0; i < 3; ++i) StartMySQLUpdate({"a.mp3"}, settings, tags, recorder.Seams());
  ASSERT_TRUE(recorder.WaitForWorkersGone(3));

  const auto sets = recorder.LinesBySet();
  ASSERT_EQ(sets.size(), 3u);
  for (const auto& lines : sets) EXPECT_THAT(lines, ElementsAreArray(dbtest::ConnectFailureLines()));
}

}  // namespace
