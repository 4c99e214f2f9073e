#include "runtime/unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(Unicode, WellFormedTextGoesBothWaysUnchanged) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"Beyoncé 90°", u"Beyonc\u00e9 90\u00b0"},
      {"坂本龍一", u"\u5742\u672c\u9f8d\u4e00"},
      {"Привет 🎵", u"\u041f\u0440\u0438\u0432\u0435\u0442 \xD83C\xDFB5"},
      {"\x7F\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF"s, u"\u007F\u07FF\uFFFF\xDBFF\xDFFF"},
      {"a\0b"s, u"a\0b"s},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
  }
}

TEST(Unicode, IllFormedTextBecomesReplacementCharacters) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"\xB0", u"\uFFFD"},                                // a Latin-1 degree sign: a stray continuation byte
      {"90\xC2", u"90\uFFFD"},                            // cut short at the end
      {"\xC0\xAF|", u"\uFFFD\uFFFD|"},                    // overlong
      {"\xED\xA0\x80|", u"\uFFFD\uFFFD\uFFFD|"},          // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xE6\x9D|", u"\uFFFD\uFFFD|"},                    // a three-byte lead with one follower
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
  // Lone surrogates of either half.
  EXPECT_EQ(Utf16ToUtf8(u"a\xD83C"), "a\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(u"\xDFB5\xD83C"
                        u"b"),
            "\uFFFD\uFFFDb");
}

}  // namespace
