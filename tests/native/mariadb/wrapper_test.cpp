// The connection wrapper against a real server and the system's client library.
#include <memory>
#include <string>
#include <vector>

#include "database/kivMySQL.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "native/mariadb/mariadb_server.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

class Wrapper : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = &MariaDBServer::Shared();
    server_->EmptyTable();
  }

  std::unique_ptr<TkivMySQLConn> Connect() {
    auto connection =
        std::make_unique<TkivMySQLConn>([this](const std::string& report) { boxes_.push_back(report); });
    connection->Connect("127.0.0.1", MariaDBServer::kUser, MariaDBServer::kPassword, "kivNormal");
    return connection;
  }

  MariaDBServer* server_ = nullptr;
  std::vector<std::string> boxes_;
};

TEST_F(Wrapper, ConnectsOnThePortOfItsOptionGroupAndReadsTheServer) {
  auto connection = Connect();
  EXPECT_TRUE(connection->Connected());
  EXPECT_NE(connection->Handle(), nullptr);
  EXPECT_THAT(connection->HostInfo(), HasSubstr("127.0.0.1"));
  EXPECT_TRUE(connection->VersionKnown());
  const std::string version = std::to_string(connection->ServerMajor()) + "." +
                              std::to_string(connection->ServerMinor()) + "." +
                              std::to_string(connection->ServerRelease());
  EXPECT_THAT(connection->ServerInfo(), StartsWith(version));
  EXPECT_GE(connection->ServerMajor(), 10);
}

TEST_F(Wrapper, TheConnectionIsUtf8mb4WhateverTheOptionGroupSays) {
  auto connection = Connect();
  EXPECT_STREQ(MySQL().mysql_character_set_name(connection->Handle()), "utf8mb4");
}

TEST_F(Wrapper, KeepsTheResultOfAnInsertAndOfASelectWhenAskedTo) {
  auto connection = Connect();
  const std::string insert = "insert into `tolby`.`winamp_played` (`fulltitle`) values ('A - T')";

  TkivQueryData* inserted = connection->Query(insert, true);
  ASSERT_NE(inserted, nullptr);
  EXPECT_EQ(inserted->SQL, insert);
  EXPECT_EQ(inserted->ResultHandle, nullptr);
  EXPECT_EQ(inserted->RowCount, 0);
  EXPECT_EQ(inserted->ColumnCount, 0);
  EXPECT_TRUE(inserted->ColumnNames.empty());

  connection->Query(insert, true);
  TkivQueryData* selected = connection->Query("SELECT ID, FullTitle FROM tolby.winamp_played", true);
  ASSERT_NE(selected, nullptr);
  EXPECT_NE(selected->ResultHandle, nullptr);
  EXPECT_EQ(selected->RowCount, 2);
  EXPECT_EQ(selected->ColumnCount, 2);
  EXPECT_THAT(selected->ColumnNames, ElementsAre("id", "fulltitle"));
  ASSERT_EQ(connection->Results().Count(), 3);
  EXPECT_EQ(connection->Results()[0], inserted);
  EXPECT_EQ(connection->Results()[2], selected);
}

TEST_F(Wrapper, WithoutStoreResultRunsTheStatementAndKeepsNothing) {
  auto connection = Connect();
  EXPECT_EQ(connection->Query("insert into tolby.winamp_played (fulltitle) values ('x')", false), nullptr);
  EXPECT_EQ(connection->Query("select * from tolby.winamp_played", false), nullptr);
  EXPECT_EQ(connection->Results().Count(), 0);
  EXPECT_EQ(connection->LastQueryStatus(), 0);
  EXPECT_EQ(server_->StoredTitlesHex(), std::vector<std::string>{Hex("x")});
}

TEST_F(Wrapper, ARejectedStatementShowsOneBoxReturnsNullAndRaisesNothing) {
  auto connection = Connect();
  connection->Query("select 1", true);
  const std::string bad = "insert into tolby.no_such_table values (1)";

  TkivQueryData* result = nullptr;
  EXPECT_NO_THROW(result = connection->Query(bad, true));

  EXPECT_EQ(result, nullptr);
  EXPECT_THAT(boxes_,
              ElementsAre("MySQL said:\r\nTable 'tolby.no_such_table' doesn't exist\r\nQuery: \r\n" + bad));
  EXPECT_EQ(connection->Results().Count(), 1);
  EXPECT_NE(connection->LastQueryStatus(), 0);
  // The connection is still good for the next statement.
  EXPECT_NE(connection->Query("select 2", true), nullptr);
  EXPECT_EQ(connection->LastQueryStatus(), 0);
}

TEST_F(Wrapper, AWrongPasswordRaisesTheConnectMessageWithTheServersTextOnItsSecondLine) {
  TkivMySQLConn connection;
  try {
    connection.Connect("127.0.0.1", MariaDBServer::kUser, "wrong", "kivNormal");
    FAIL() << "connected with a wrong password";
  } catch (const EkivException& e) {
    EXPECT_STREQ(e.what(),
                 "An error occured whilst trying to connect to the server:\r\n"
                 "Access denied for user 'skorrel'@'127.0.0.1' (using password: YES)");
  }
  // The handle went with the failure; destroying the wrapper must not close it again.
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(connection.Handle(), nullptr);
}

TEST(WrapperWithoutServer, AServerNobodyListensForRaisesTheLibrarysText) {
  ClientPortSwap nobodyListens(FreeLoopbackPort());
  TkivMySQLConn connection;
  try {
    connection.Connect("127.0.0.1", "u", "p", "kivNormal");
    FAIL() << "connected to nothing";
  } catch (const EkivException& e) {
    EXPECT_THAT(e.what(),
                StartsWith("An error occured whilst trying to connect to the server:\r\nCan't connect"));
  }
  EXPECT_EQ(connection.Handle(), nullptr);
}

}  // namespace
