#include "publish/msn.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tag_table.h"

namespace {

using namespace std::string_literals;

const TTrackMetaData kSong{"C:\\Music\\01 Song.mp3"};

class FakeMessenger : public MessengerLink {
 public:
  std::vector<MsnBlock> sent;
  void SendToAll(const MsnBlock& block) override { sent.push_back(block); }
};

// The block's UTF-16 units up to and including the first zero unit, and whether all after it is zero.
std::u16string UnitsOf(const MsnBlock& block, bool* restIsZero = nullptr) {
  std::u16string units;
  std::size_t i = 0;
  for (; i < block.size(); i += 2) {
    units += static_cast<char16_t>(block[i] | block[i + 1] << 8);
    if (units.back() == 0) break;
  }
  if (restIsZero) {
    *restIsZero = true;
    for (i += 2; i < block.size(); ++i) *restIsZero = *restIsZero && block[i] == 0;
  }
  return units;
}

class Msn : public ::testing::Test {
 protected:
  void Set(const std::string& name, const std::string& value) { tags.Set(kSong.FileName, name, value); }
  std::string DefaultText() { return MSNText(MSNSetLine(tags, kSong, true, "%artist% - %title%")); }

  TagTable tags;
  FakeMessenger messenger;
};

TEST_F(Msn, DefaultFormatWithAnArtistShowsArtistHyphenTitle) {
  Set("artist", "A");
  Set("album", "B");
  Set("title", "T");
  EXPECT_EQ(DefaultText(), "\\0Music\\01\\0{1} - {0}\\0T\\0A\\0B\\0WMContentID\0"s);
  EXPECT_EQ(tags.asked, (std::vector<std::string>{"artist", "album", "title"}));
}

TEST_F(Msn, DefaultFormatWithoutAnArtistShowsTheTitleAloneAndKeepsTheEmptyField) {
  Set("album", "B");
  Set("title", "T");
  EXPECT_EQ(DefaultText(), "\\0Music\\01\\0{0}\\0T\\0\\0B\\0WMContentID\0"s);
}

TEST_F(Msn, DefaultFormatWithoutAnyTagDoesNotFallBackToTheFileName) {
  EXPECT_EQ(DefaultText(), "\\0Music\\01\\0{0}\\0\\0\\0\\0WMContentID\0"s);
}

TEST_F(Msn, CustomFormatIsTheExpandedTemplateAsValueZero) {
  Set("artist", "A");
  Set("title", "T");
  EXPECT_EQ(MSNText(MSNSetLine(tags, kSong, false, "%artist% - %title%")),
            "\\0Music\\01\\0{0}\\0A - T\\0\\0\\0WMContentID\0"s);
  // With nothing resolved the template gives way to the file name, unlike the default format.
  EXPECT_EQ(MSNText(MSNSetLine(tags, {"C:\\x\\only.mp3"}, false, "%artist%")),
            "\\0Music\\01\\0{0}\\0only\\0\\0\\0WMContentID\0"s);
}

TEST_F(Msn, ClearTextSwitchesTheLineOffWithEmptyValues) {
  EXPECT_EQ(MSNText(MSNClearLine()), "\\0Music\\00\\0{0}\\0\\0\\0\\0WMContentID\0"s);
}

TEST_F(Msn, BlockHoldsTheTextAsLittleEndianUtf16ThenZeros) {
  MSNClearNowPlaying(messenger);
  ASSERT_EQ(messenger.sent.size(), 1u);
  const MsnBlock& block = messenger.sent[0];
  const std::uint8_t head[] = {'\\', 0, '0', 0, 'M',  0, 'u', 0, 's', 0,
                               'i',  0, 'c', 0, '\\', 0, '0', 0, '0', 0};
  EXPECT_TRUE(std::equal(std::begin(head), std::end(head), block.begin()));
  // 34 characters and the closing zero: 70 bytes, the last two of them zero, then only zeros.
  EXPECT_EQ(block[66], 'D');
  EXPECT_EQ(block[67], 0);
  for (std::size_t i = 68; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
}

TEST_F(Msn, BlockCarriesTheExactUtf16OfTheUtf8Tags) {
  Set("artist", "坂本龍一");
  Set("title", "Привет 🎵 90°");
  MSNSetNowPlaying(messenger, tags, kSong, true, "");
  ASSERT_EQ(messenger.sent.size(), 1u);
  EXPECT_EQ(UnitsOf(messenger.sent[0]),
            u"\\0Music\\01\\0{1} - {0}\\0Привет \U0001F3B5 90°\\0坂本龍一\\0\\0WMContentID"s + u'\0');
}

TEST_F(Msn, AnOverLongTextIsCutInItsLongestValuesAndKeepsEveryFieldAndTheClosingWord) {
  Set("title", std::string(200, 'T'));
  Set("artist", std::string(50, 'A'));
  Set("album", std::string(10, 'B'));
  MSNSetNowPlaying(messenger, tags, kSong, true, "");
  bool restIsZero = false;
  const std::u16string units = UnitsOf(messenger.sent.at(0), &restIsZero);
  // 41 fixed units leave 86 for the values: the title comes down to the artist's length, then both
  // lose alike; the short album is untouched.
  EXPECT_EQ(units, u"\\0Music\\01\\0{1} - {0}\\0" + std::u16string(38, u'T') + u"\\0" +
                       std::u16string(38, u'A') + u"\\0BBBBBBBBBB\\0WMContentID" + u'\0');
  EXPECT_EQ(units.size(), kMsnMaxUnits);
  EXPECT_TRUE(restIsZero);
}

TEST_F(Msn, TheCutCountsUtf16UnitsNotBytes) {
  std::string japanese;
  for (int i = 0; i < 80; ++i) japanese += "龍";  // 240 bytes, 80 units
  Set("title", japanese);
  MSNSetNowPlaying(messenger, tags, kSong, true, "");
  const std::u16string units = UnitsOf(messenger.sent.at(0));
  EXPECT_EQ(units.size(), 35u + 80u) << "fits without a cut";
  EXPECT_EQ(units.substr(17, 80), std::u16string(80, u'龍'));
}

TEST_F(Msn, TheCutNeverSplitsASurrogatePair) {
  std::string emoji;
  for (int i = 0; i < 100; ++i) emoji += "🎵";  // 200 units
  Set("title", emoji);
  Set("album", "B");
  MSNSetNowPlaying(messenger, tags, kSong, true, "");
  const std::u16string units = UnitsOf(messenger.sent.at(0));
  std::u16string title;
  for (int i = 0; i < 45; ++i) title += u"\U0001F3B5";
  // 36 fixed units leave room for 91, an odd number: the title keeps 45 whole pairs.
  EXPECT_EQ(units, u"\\0Music\\01\\0{0}\\0" + title + u"\\0\\0B\\0WMContentID" + u'\0');
}

}  // namespace
