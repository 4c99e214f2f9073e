#include "track/subtags.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "diag/globals.h"
#include "log_platform_double.h"
#include "tag_table.h"

namespace {

const TTrackMetaData kSong{"C:\\Music\\01 Song.mp3"};

class SubTagsTest : public ::testing::Test {
 protected:
  std::string Expand(const std::string& format, bool sqlEscape = false, const TTrackMetaData& track = kSong) {
    return SubTags(tags, track, format, sqlEscape, &usedFileName);
  }
  void Set(const std::string& name, const std::string& value) { tags.Set(kSong.FileName, name, value); }

  TagTable tags;
  bool usedFileName = false;
};

TEST_F(SubTagsTest, FillsEveryTagWithTheValueTheSourceGivesForTheTracksFile) {
  Set("artist", "A");
  Set("title", "T");
  EXPECT_EQ(Expand("%artist% - %title%"), "A - T");
  EXPECT_FALSE(usedFileName);
  EXPECT_EQ(tags.asked, (std::vector<std::string>{"artist", "title"}));
}

TEST_F(SubTagsTest, OneResolvedTagIsEnoughToKeepTheTemplate) {
  Set("title", "T");
  EXPECT_EQ(Expand("%artist% - %title%"), " - T");
  EXPECT_FALSE(usedFileName);
}

TEST_F(SubTagsTest, FallsBackToTheBareFileNameWhenNoTagResolves) {
  EXPECT_EQ(Expand("%artist% - %title%"), "01 Song");
  EXPECT_TRUE(usedFileName);
  // A template without tags is dropped the same way.
  EXPECT_EQ(Expand("listening"), "01 Song");
  EXPECT_TRUE(usedFileName);
  EXPECT_EQ(Expand(""), "01 Song");
}

TEST_F(SubTagsTest, FallBackCutsAtTheLastBackslashOrColonAndRemovesEveryOccurrenceOfTheExtension) {
  EXPECT_EQ(Expand("%title%", false, {"D:\\x\\a.mp3.x.MP3"}), "a.x");
  EXPECT_EQ(Expand("%title%", false, {"C:song.ogg"}), "song");
  EXPECT_EQ(Expand("%title%", false, {"http://radio/stream"}), "//radio/stream");
  EXPECT_EQ(Expand("%title%", false, {"noext"}), "noext");
  EXPECT_EQ(Expand("%title%", false, {""}), "");
  EXPECT_TRUE(usedFileName);
}

TEST_F(SubTagsTest, InsertedValuesAreNeverExpandedAgain) {
  Set("artist", "%title%");
  Set("title", "T");
  EXPECT_EQ(Expand("%artist% / %title%"), "%title% / T");
}

TEST_F(SubTagsTest, PercentAndDegreeSignsOfValuesAndTemplateComeOutAsTheyWent) {
  // A byte 0xB0 (the last of the UTF-8 degree sign, and the Latin-1 one) is text like any other.
  Set("title", "Привет 🎵 90°");
  Set("album", "100% \xB0 %title% %");
  EXPECT_EQ(Expand("° %title% | %album%"), "° Привет 🎵 90° | 100% \xB0 %title% %");
}

TEST_F(SubTagsTest, ARepeatedTagInAnotherCaseTakesTheFirstLookupAndStillCounts) {
  tags.Set(kSong.FileName, "Title", "T");
  EXPECT_EQ(Expand("%Title% %TITLE%"), "T T");
  EXPECT_EQ(tags.asked, (std::vector<std::string>{"Title", "TITLE"}));
  // The second lookup is empty, so Matches 2 against Empties 1: no fall-back.
  EXPECT_FALSE(usedFileName);
}

TEST_F(SubTagsTest, TagsAreFoundLeftToRightWithoutOverlapAndLonePercentSignsStay) {
  Set("a", "1");
  Set("c", "3");
  EXPECT_EQ(Expand("%a%b%c%"), "1b3");
  EXPECT_EQ(tags.asked, (std::vector<std::string>{"a", "c"}));
  tags.asked.clear();
  // The second of two adjacent signs may open a tag; a sign with no partner stays.
  EXPECT_EQ(Expand("%%a% 5%"), "%1 5%");
  EXPECT_EQ(tags.asked, (std::vector<std::string>{"a"}));
}

TEST_F(SubTagsTest, TagNamesGoToTheSourceUntrimmedAndInTheirOwnCase) {
  Set(" Album Artist ", "X");
  EXPECT_EQ(Expand("[% Album Artist %]"), "[X]");
}

TEST_F(SubTagsTest, SqlEscapingTouchesOnlyTheValues) {
  Set("title", "O'Brien's Mix");
  Set("path", "C:\\Temp");
  Set("quote", "say \"hi\"");
  EXPECT_EQ(Expand("'%title%' '%path%' \"%quote%\" \\", true),
            "'O''Brien''s Mix' 'C:\\\\Temp' \"say \\\"hi\\\"\" \\");
}

TEST_F(SubTagsTest, SqlEscapingDoesNotDoubleTheBackslashesItAdds) {
  Set("title", "\\'");
  EXPECT_EQ(Expand("%title%", true), "\\\\''");
}

TEST_F(SubTagsTest, WithSqlEscapingAFallBackReplacesTheWholeStatementAndSaysSo) {
  EXPECT_EQ(Expand("insert into t values ('%artist%')", true), "01 Song");
  EXPECT_TRUE(usedFileName);
}

TEST_F(SubTagsTest, LogsItsStartTheTemplateTheLoopEachMatchAndTheOutput) {
  Set("title", "T");
  auto platform = std::make_shared<RecordingLogPlatform>();
  StartLogClient(platform, "viewer", "C:");
  Expand("<%title%>");
  StopLogClient();
  std::vector<std::string> lines;
  for (const SentPacket& packet : platform->Sent())
    if (packet.Type() == 0) lines.push_back(packet.Text());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[gen_skorrel] SubTags", "[gen_skorrel] SubTags: TrackFormat=<%title%>",
                       "[gen_skorrel] SubTags: RegExp Loop", "[gen_skorrel] SubTags: Match(1) - %title%",
                       "[gen_skorrel] SubTags: Output=<T>"}));
}

}  // namespace
