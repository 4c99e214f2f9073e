// The database publisher where no server is needed: version parsing, a missing client library, and
// what the trigger hands its worker. Runs natively and under Wine.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "database/kivMySQL.h"
#include "database/mysql_errors.h"
#include "database/thread_mysql_updater.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "native/database_doubles.h"
#include "runtime/unicode.h"

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

TEST(PrepareMySQLUpdate, EscapesTheTagsIntoTheStatement) {
  dbtest::Tags tags;
  tags.values[{"C:\\Music\\a.mp3", "artist"}] = "O'Brien";
  tags.values[{"C:\\Music\\a.mp3", "title"}] = "C:\\Temp \"x\"";
  WorkerRecorder recorder;

  EXPECT_EQ(PrepareMySQLUpdate({"C:\\Music\\a.mp3"}, DatabaseTarget(), tags, recorder.Seams()),
            "insert into `tolby`.`winamp_played` (`fulltitle`) values ('O''Brien - C:\\\\Temp \\\"x\\\"')");
  EXPECT_THAT(recorder.Lines(), ElementsAre("MySQLSkorrel: Starting thread to send SQL to MySQL server..."));
}

TEST(PrepareMySQLUpdate, NeverTurnsTheFileNameIntoAStatement) {
  MySQLTarget target = DatabaseTarget();
  dbtest::Tags noTags;
  WorkerRecorder recorder;
  TTrackMetaData track("C:\\Music\\drop table t.mp3");
  track.PlayId = "id";  // the play's own tags are no sign that the player knows the track
  for (const char* command :
       {dbtest::kDefaultCommand, "delete from t", "insert into t values ('%playid%')"}) {
    target.Command = command;
    EXPECT_EQ(PrepareMySQLUpdate(track, target, noTags, recorder.Seams()), std::nullopt);
  }
  const std::vector<std::string> once = {
      "MySQLSkorrel: Starting thread to send SQL to MySQL server...",
      "MySQLSkorrel: Skipped track - no tag resolved, so there is no statement to run"};
  std::vector<std::string> thrice;
  for (int i = 0; i < 3; ++i) thrice.insert(thrice.end(), once.begin(), once.end());
  EXPECT_THAT(recorder.Lines(), ElementsAreArray(thrice));
}

TEST(IsTransientMySQLError, KeepsLostConnectionsAndBusyServersButNotRefusedStatements) {
  for (unsigned int number : {2002u, 2003u, 2006u, 2013u, 2055u, 1040u, 1045u, 1053u, 1205u, 1213u})
    EXPECT_TRUE(IsTransientMySQLError(number)) << number;
  // A syntax error, a missing table, a duplicate key, a bad value, a missing column.
  for (unsigned int number : {1064u, 1146u, 1062u, 1366u, 1054u})
    EXPECT_FALSE(IsTransientMySQLError(number)) << number;
}

TEST(WithinBmp, ReplacesOnlyWellFormedCharactersAboveU0000FFFFForAThreeByteUtf8Server) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"Privet \xF0\x9F\x8E\xB5!", "Privet \xEF\xBF\xBD!"},    // an emoji
      {"\xE6\x88\xA6 90\xC2\xB0", "\xE6\x88\xA6 90\xC2\xB0"},  // three and two bytes stay
      {"\xF0\x9F\x8E", "\xF0\x9F\x8E"},                        // cut short: left as it is
      {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80"},                // above U+10FFFF: not a character
      {"'\xF0\x90\x80\x80\xF0\x90\x80\x80'", "'\xEF\xBF\xBD\xEF\xBF\xBD'"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithinBmp(c.in), c.out) << c.in;
}

}  // namespace
