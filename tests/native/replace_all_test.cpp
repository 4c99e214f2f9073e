#include <gtest/gtest.h>

#include <random>
#include <string>

#include "track/faststrings.h"

namespace {

// The plain meaning of replace-all, to hold the fast search against.
std::string Reference(const std::string& source, const std::string& find, const std::string& replacement,
                      bool caseSensitive) {
  if (source.empty() || find.empty()) return source;
  auto fold = [&](char c) {
    return caseSensitive || c < 'a' || c > 'z' ? c : static_cast<char>(c - 'a' + 'A');
  };
  std::string out;
  std::size_t i = 0;
  while (i < source.size()) {
    bool match = i + find.size() <= source.size();
    for (std::size_t j = 0; match && j < find.size(); ++j) match = fold(source[i + j]) == fold(find[j]);
    if (match) {
      out += replacement;
      i += find.size();
    } else {
      out += source[i++];
    }
  }
  return out;
}

TEST(ReplaceAll, MatchesDoNotOverlap) { EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba"); }

TEST(ReplaceAll, IgnoresLetterCaseByDefault) {
  EXPECT_EQ(ReplaceAll("song.MP3", ".mp3", ""), "song");
  EXPECT_EQ(ReplaceAll("song.mp3", ".MP3", ""), "song");
  EXPECT_EQ(ReplaceAll("%ARTIST% and %artist%", "%Artist%", "A"), "A and A");
}

TEST(ReplaceAll, FoldsOnlyAsciiLettersSoDifferentUtf8CharactersStayApart) {
  // Folding 0xE3 to 0xC3, as a Western code page's upper-casing does, would find "Á" in "あ".
  EXPECT_EQ(ReplaceAll("あ", "Á", "x"), "あ");
  EXPECT_EQ(ReplaceAll("é É", "é", "x"), "x É");
}

TEST(ReplaceAll, CaseSensitiveWhenAsked) { EXPECT_EQ(ReplaceAll("aAa", "a", "x", true), "xAx"); }

TEST(ReplaceAll, EmptySourceOrFindLeavesSource) {
  EXPECT_EQ(ReplaceAll("", "a", "b"), "");
  EXPECT_EQ(ReplaceAll("abc", "", "b"), "abc");
}

TEST(ReplaceAll, OneCharacterFindReplacesAtBothEnds) {
  EXPECT_EQ(ReplaceAll("%artist%", "%", ""), "artist");
  EXPECT_EQ(ReplaceAll("xax", "x", "yy"), "yyayy");
}

TEST(ReplaceAll, FindLongerThanSourceOrAtTheVeryEnd) {
  EXPECT_EQ(ReplaceAll("ab", "abc", "x"), "ab");
  EXPECT_EQ(ReplaceAll("xxabc", "abc", "-"), "xx-");
  EXPECT_EQ(ReplaceAll("abcab", "abc", "-"), "-ab");
}

TEST(ReplaceAll, ByteValuesAboveAsciiAndNulAreOrdinaryBytes) {
  const std::string marker(1, '\xB0');
  EXPECT_EQ(ReplaceAll("50" + marker + " off", marker, "%"), "50% off");
  EXPECT_EQ(ReplaceAll(std::string("a\0b", 3), std::string(1, '\0'), "\\0"), "a\\0b");
}

TEST(ReplaceAll, LongReplacementsGrowTheResultWhole) {
  const std::string value(4095, 'v');
  std::string source;
  for (int i = 0; i < 50; ++i) source += "%title% ";
  EXPECT_EQ(ReplaceAll(source, "%TITLE%", value), Reference(source, "%TITLE%", value, false));
}

TEST(ReplaceAll, ResultBufferStartsAtTheWorstCaseAndGrowsByHalf) {
  using namespace replace_detail;
  EXPECT_EQ(InitialCapacity(100, 4, 10), 250u);  // longer replacement: source * replacement / find
  EXPECT_EQ(InitialCapacity(100, 4, 4), 100u);   // otherwise the source's length
  EXPECT_EQ(InitialCapacity(100, 4, 0), 100u);
  EXPECT_EQ(InitialCapacity(1, 3, 2), 1u);
  EXPECT_EQ(InitialCapacity(0, 3, 2), 3u);  // nothing sized: 1.5 * (source + replacement)
  EXPECT_EQ(Grown(2), 3u);
  EXPECT_EQ(Grown(3), 5u);  // 4.5 rounds up
  EXPECT_EQ(Grown(10), 15u);
}

TEST(ReplaceAll, AgreesWithThePlainMeaningOverRandomTexts) {
  std::mt19937 rng(20261207);
  // Small alphabets make matches, overlaps and near misses common; any byte value may appear.
  const std::string alphabets[] = {"aA", "abAB%", std::string("a\0\xB0\xFFzZ", 6)};
  for (int round = 0; round < 4000; ++round) {
    const std::string& alphabet = alphabets[round % 3];
    auto text = [&](int maxLength) {
      std::string s(rng() % (maxLength + 1), ' ');
      for (char& c : s) c = alphabet[rng() % alphabet.size()];
      return s;
    };
    const std::string source = text(40), find = text(5), replacement = text(8);
    const bool caseSensitive = rng() % 2;
    ASSERT_EQ(ReplaceAll(source, find, replacement, caseSensitive),
              Reference(source, find, replacement, caseSensitive))
        << "source=" << source << " find=" << find << " replacement=" << replacement;
  }
}

}  // namespace
