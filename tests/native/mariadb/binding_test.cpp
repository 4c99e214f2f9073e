// The binding with the system's client library, and with libraries that are slow or wrong.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "database/mysql.h"
#include "gtest/gtest.h"
#include "native/database_doubles.h"

using dbtest::LoaderSwap;

namespace {

// The names of the entries the library left null.
std::set<std::string> Unbound(const MySQLEntries& entries) {
  std::set<std::string> names;
#define SKORREL_UNBOUND(ret, name, params) \
  if (!entries.name) names.insert(#name);
  SKORREL_MYSQL_ENTRIES(SKORREL_UNBOUND)
#undef SKORREL_UNBOUND
  return names;
}

bool WrapperCallsBound(const MySQLEntries& e) {
  return e.mysql_init && e.mysql_options && e.mysql_real_connect && e.mysql_error && e.mysql_get_host_info &&
         e.mysql_get_server_info && e.mysql_query && e.mysql_store_result && e.mysql_num_rows &&
         e.mysql_fetch_field && e.mysql_free_result && e.mysql_close;
}

std::atomic<int> loads{0};
Library CountedLoad(const std::string& fileName) {
  ++loads;
  return LoadClientLibraryFile(fileName);
}

TEST(MySQLBinding, BindsTheSystemLibraryLackingAtMostTheFunctionsNothingCalls) {
  LoaderSwap swap(&LoadClientLibraryFile);
  ASSERT_TRUE(LoadMySQLLibrary("libmysql.dll"));
  const std::set<std::string> absentees = {"mysql_create_db", "mysql_drop_db", "mysql_odbc_escape_string",
                                           "myodbc_remove_escape"};
  for (const std::string& name : Unbound(MySQL())) EXPECT_TRUE(absentees.count(name)) << name;
  EXPECT_TRUE(WrapperCallsBound(MySQL()));
}

TEST(MySQLBinding, OnceLoadedKeepsTheFirstLibraryWhateverNameIsAskedFor) {
  LoaderSwap swap(&CountedLoad);
  loads = 0;
  ASSERT_TRUE(LoadMySQLLibrary("libmysql.dll"));
  const auto init = MySQL().mysql_init;
  EXPECT_TRUE(LoadMySQLLibrary("another.dll"));
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(MySQL().mysql_init, init);
}

std::atomic<int> wrongLoads{0};
Library NotAClientLibrary(const std::string&) {
  ++wrongLoads;
  return Library::Load("libz.so.1");
}

TEST(MySQLBinding, ALibraryWithoutTheWrappersFunctionsCountsAsMissingUntilARealOneTurnsUp) {
  LoaderSwap swap(&NotAClientLibrary);
  wrongLoads = 0;
  ASSERT_TRUE(Library::Load("libz.so.1")) << "the test needs zlib as a library that is not a client library";
  EXPECT_FALSE(LoadMySQLLibrary("libmysql.dll"));
  EXPECT_FALSE(LoadMySQLLibrary("libmysql.dll"));
  EXPECT_EQ(wrongLoads, 2);
  // Installed meanwhile: the next attempt finds it.
  SetMySQLLibraryLoader(&LoadClientLibraryFile);
  EXPECT_TRUE(LoadMySQLLibrary("libmysql.dll"));
}

// A first load that lasts until a second thread is on its way in.
std::mutex raceMutex;
std::condition_variable raceChanged;
bool firstLoading = false;
bool secondCalling = false;
std::atomic<int> raceLoads{0};

Library SlowLoad(const std::string& fileName) {
  ++raceLoads;
  std::unique_lock<std::mutex> lock(raceMutex);
  firstLoading = true;
  raceChanged.notify_all();
  raceChanged.wait_for(lock, std::chrono::seconds(30), [] { return secondCalling; });
  return LoadClientLibraryFile(fileName);
}

TEST(MySQLBinding, TwoFirstLoadsAtOnceLoadOnceAndBothSeeEveryEntryBound) {
  LoaderSwap swap(&SlowLoad);
  raceLoads = 0;
  struct Seen {
    bool loaded = false;
    bool bound = false;
    decltype(MySQLEntries::mysql_init) init = nullptr;
  } first, second;
  auto load = [](Seen& seen) {
    seen.loaded = LoadMySQLLibrary("libmysql.dll");
    if (seen.loaded) {
      seen.bound = WrapperCallsBound(MySQL());
      seen.init = MySQL().mysql_init;
    }
  };

  std::thread a([&] { load(first); });
  std::thread b([&] {
    {
      std::unique_lock<std::mutex> lock(raceMutex);
      raceChanged.wait(lock, [] { return firstLoading; });
      secondCalling = true;
      raceChanged.notify_all();
    }
    load(second);
  });
  a.join();
  b.join();

  EXPECT_EQ(raceLoads, 1);
  EXPECT_TRUE(first.loaded && first.bound);
  EXPECT_TRUE(second.loaded && second.bound);
  EXPECT_EQ(first.init, second.init);
}

TEST(MySQLLibraryUse, TheLastClaimToGoEndsTheLibrarySoTheNextLoadOpensItAfresh) {
  LoaderSwap swap(&CountedLoad);
  loads = 0;
  {
    MySQLLibraryUse plugin;
    {
      MySQLLibraryUse worker;
      ASSERT_TRUE(LoadMySQLLibrary("libmysql.dll"));
    }
    // The worker went first: the plug-in's claim keeps the library.
    ASSERT_TRUE(LoadMySQLLibrary("libmysql.dll"));
    EXPECT_EQ(loads, 1);
  }
  MySQLLibraryUse next;
  ASSERT_TRUE(LoadMySQLLibrary("libmysql.dll"));
  EXPECT_EQ(loads, 2);
}

}  // namespace
