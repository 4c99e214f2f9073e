#include <gtest/gtest.h>

#include "track/globals_misc.h"

TEST(CountFields, CountsOnlyNonEmptyRuns) {
  EXPECT_EQ(CountFields("avi,mpg,mpeg,wmv", ','), 4);
  EXPECT_EQ(CountFields(",,avi,,", ','), 1);
  EXPECT_EQ(CountFields(",,,", ','), 0);
  EXPECT_EQ(CountFields("", ','), 0);
  EXPECT_EQ(CountFields("avi, mpg", ','), 2);
}

TEST(GetField, SkipsEmptyPiecesAndNeverTrims) {
  EXPECT_EQ(GetField("a,,b", ',', 2), "b");
  EXPECT_EQ(GetField(",a", ',', 1), "a");
  EXPECT_EQ(GetField("avi, mpg", ',', 2), " mpg");
  EXPECT_EQ(GetField("host:22", ':', 1), "host");
  EXPECT_EQ(GetField("host:22", ':', 2), "22");
  EXPECT_EQ(GetField("5.1.73-log", '-', 1), "5.1.73");
}

TEST(GetField, IndexesOutsideTheFieldsGiveTheLastPiece) {
  EXPECT_EQ(GetField("plain", ',', 0), "plain");
  EXPECT_EQ(GetField("plain", ',', 7), "plain");
  EXPECT_EQ(GetField("a,b,c", ',', 0), "c");
  EXPECT_EQ(GetField("a,b,c", ',', 4), "c");
  EXPECT_EQ(GetField("a,b,", ',', 3), "");
  EXPECT_EQ(GetField("a,b,", ',', -1), "");
}
