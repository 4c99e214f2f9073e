// The database publisher where no server is needed: version parsing, a missing client library, and
// what the trigger hands its worker. Runs natively and under Wine.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "database/kivMySQL.h"
#include "database/thread_mysql_updater.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "native/database_doubles.h"

using dbtest::ConnectFailureLines;
using dbtest::LoaderSwap;
using dbtest::WorkerRecorder;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

TEST(ServerVersion, TakesMajorMinorAndReleaseFromTheTextBeforeTheFirstHyphen) {
  const ServerVersion log = ParseServerVersion("5.1.73-log");
  EXPECT_EQ(log.Major, 5);
  EXPECT_EQ(log.Minor, 1);
  EXPECT_EQ(log.Release, 73);
  const ServerVersion mariadb = ParseServerVersion("10.11.19-MariaDB-0+deb12u1");
  EXPECT_EQ(mariadb.Major, 10);
  EXPECT_EQ(mariadb.Minor, 11);
  EXPECT_EQ(mariadb.Release, 19);
}

TEST(ServerVersion, ReadsTheReleaseLeniently) {
  EXPECT_EQ(ParseServerVersion("4.1.22a").Release, 22);
  EXPECT_EQ(ParseServerVersion("5.0.beta-nt").Release, 0);
  EXPECT_EQ(ParseServerVersion("5.0.99999999999").Release, 2147483647);
}

TEST(ServerVersion, RejectsAMajorOrMinorThatIsNotA32BitDecimal) {
  for (const char* bad : {"x.1.22", "5.1a.22", "", " 5.1.22", "0x5.1.22", "5.2147483648.1"})
    EXPECT_THROW(ParseServerVersion(bad), EConvertError) << bad;
}

std::atomic<int> missingLoads{0};
Library MissingLibrary(const std::string&) {
  ++missingLoads;
  return Library();
}

TEST(TkivMySQLConn, AMissingLibraryIsReportedAndLookedForAgainOnTheNextConnect) {
  LoaderSwap swap(&MissingLibrary);
  missingLoads = 0;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    TkivMySQLConn connection;
    try {
      connection.Connect("db.example", "user", "pw", "kivNormal");
      FAIL() << "connected without a library";
    } catch (const EkivException& e) {
      EXPECT_STREQ(e.what(), "MySQL libraries are missing! (libmysql.dll)");
    }
    EXPECT_FALSE(connection.Connected());
    EXPECT_EQ(connection.Handle(), nullptr);
    EXPECT_EQ(connection.Host(), "db.example");
    EXPECT_EQ(connection.OptionGroup(), "kivNormal");
    EXPECT_EQ(missingLoads, attempt);
  }
}

TEST(TkivMySQLConn, RefusesAQueryWithoutAConnection) {
  TkivMySQLConn connection;
  try {
    connection.Query("select 1", true);
    FAIL() << "queried without a connection";
  } catch (const EkivException& e) {
    EXPECT_STREQ(e.what(), "Cannot perform query with no valid database connection");
  }
  EXPECT_EQ(connection.Results().Count(), 0);
}

MySQLTarget DatabaseTarget() {
  MySQLTarget target;
  target.Server = "db.example";
  target.UserName = "winamp";
  target.Password = "old";
  target.Command = dbtest::kDefaultCommand;
  return target;
}

TEST(PrepareMySQLUpdate, CopiesTheSettingsAndEscapesTheTagsIntoTheStatement) {
  MySQLTarget target = DatabaseTarget();
  dbtest::Tags tags;
  tags.values[{"C:\\Music\\a.mp3", "artist"}] = "O'Brien";
  tags.values[{"C:\\Music\\a.mp3", "title"}] = "C:\\Temp \"x\"";
  WorkerRecorder recorder;

  auto worker = PrepareMySQLUpdate({"C:\\Music\\a.mp3"}, target, tags, recorder.Seams());
  target.Password = "new";  // a later save does not reach a prepared worker

  ASSERT_NE(worker, nullptr);
  EXPECT_EQ(worker->Host, "db.example");
  EXPECT_EQ(worker->UserName, "winamp");
  EXPECT_EQ(worker->Password, "old");
  EXPECT_EQ(worker->SQL,
            "insert into `tolby`.`winamp_played` (`fulltitle`) values ('O\\'Brien - C:\\\\Temp \\\"x\\\"')");
  EXPECT_THAT(recorder.Lines(), ElementsAre("MySQLSkorrel: Starting thread to send SQL to MySQL server..."));
}

TEST(PrepareMySQLUpdate, ThroughTheTunnelConnectsToThisMachineWhateverTheServerSetting) {
  MySQLTarget target = DatabaseTarget();
  target.ThroughTunnel = true;
  dbtest::Tags tags;
  tags.values[{"a.mp3", "title"}] = "T";
  auto worker = PrepareMySQLUpdate({"a.mp3"}, target, tags, WorkerRecorder().Seams());
  ASSERT_NE(worker, nullptr);
  EXPECT_EQ(worker->Host, "127.0.0.1");
}

TEST(PrepareMySQLUpdate, NeverTurnsTheFileNameIntoAStatement) {
  MySQLTarget target = DatabaseTarget();
  dbtest::Tags noTags;
  WorkerRecorder recorder;
  for (const char* command : {dbtest::kDefaultCommand, "delete from t"}) {
    target.Command = command;
    EXPECT_EQ(PrepareMySQLUpdate({"C:\\Music\\drop table t.mp3"}, target, noTags, recorder.Seams()), nullptr);
  }
  const std::vector<std::string> once = {
      "MySQLSkorrel: Starting thread to send SQL to MySQL server...",
      "MySQLSkorrel: Skipped track - no tag resolved, so there is no statement to run"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_THAT(recorder.Lines(), ElementsAreArray(twice));
}

TEST(StartMySQLUpdate, WorkersWithoutALibraryEachLogTheConnectFailureAndEnd) {
  LoaderSwap swap(&MissingLibrary);
  MySQLTarget target = DatabaseTarget();
  dbtest::Tags tags;
  tags.values[{"a.mp3", "title"}] = "T";
  WorkerRecorder recorder;
  for (int i = 0; i < 3; ++i) StartMySQLUpdate({"a.mp3"}, target, tags, recorder.Seams());
  ASSERT_TRUE(recorder.WaitForWorkersGone(3));

  // Workers run side by side; each one's lines are complete and in order.
  for (const auto& lines : recorder.LinesBySet()) EXPECT_THAT(lines, ElementsAreArray(ConnectFailureLines()));
  EXPECT_TRUE(recorder.Boxes().empty());
}

}  // namespace
