// SubTags against a reference written from its steps, with and without SQL escaping, and the
// player's answers driven by the input; from valid UTF-8 it makes valid UTF-8.
#include "track/subtags.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_tags.h"
#include "runtime/unicode.h"
#include "track/faststrings.h"

namespace {

std::string Escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    // A quote is doubled, which stays inside the literal whether or not the server reads
    // backslashes as escapes.
    if (c == '\'') out += '\'';
    if (c == '\\' || c == '"' || c == '\0') out += '\\';
    out += c;
  }
  return out;
}

// The text being built, with a value's bytes lifted above 255 so that no tag can match them.
using Marked = std::u32string;

Marked Mark(const std::string& text, bool value) {
  Marked marked;
  for (char c : text) marked += static_cast<char32_t>(static_cast<unsigned char>(c) + (value ? 256 : 0));
  return marked;
}

char32_t FoldAscii(char32_t c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

Marked ReplaceMarked(const Marked& text, const Marked& find, const Marked& with) {
  Marked out;
  std::size_t i = 0;
  while (i < text.size()) {
    bool hit = i + find.size() <= text.size();
    for (std::size_t j = 0; hit && j < find.size(); ++j) hit = FoldAscii(text[i + j]) == FoldAscii(find[j]);
    if (hit) {
      out += with;
      i += find.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string Reference(TagSource& tags, const TTrackMetaData& track, const std::string& format, bool sqlEscape,
                      bool& usedFileName) {
  const std::string& fileName = track.FileName;
  // "%[^%]+%" left to right: two neighbouring percent signs with something between them.
  std::vector<std::size_t> percents;
  for (std::size_t i = 0; i < format.size(); ++i)
    if (format[i] == '%') percents.push_back(i);
  std::vector<std::string> found;
  for (std::size_t k = 0; k + 1 < percents.size(); ++k) {
    if (percents[k + 1] == percents[k] + 1) continue;
    found.push_back(format.substr(percents[k], percents[k + 1] - percents[k] + 1));
    ++k;
  }
  Marked s = Mark(format, false);
  int matches = 0, empties = 0;
  for (const std::string& match : found) {
    ++matches;
    const std::string name = match.substr(1, match.size() - 2);
    std::string lower;
    for (char c : name) lower += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    // The play's own tags are always known, and never a sign that the player knew the track.
    std::string value = lower == "playid"        ? track.PlayId
                        : lower == "listened_at" ? std::to_string(track.ListenedAt)
                                                 : tags.Tag(fileName, name);
    if (value.empty() || lower == "playid" || lower == "listened_at") ++empties;
    if (sqlEscape) value = Escaped(value);
    s = ReplaceMarked(s, Mark(match, false), Mark(value, true));
  }
  usedFileName = matches == empties;
  if (!usedFileName) {
    std::string text;
    for (char32_t c : s) text += static_cast<char>(c & 0xFF);
    return text;
  }
  const std::size_t slash = fileName.find_last_of("\\:");
  std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : ReplaceAll(name, name.substr(dot), "");
}

bool ValidUtf8(const std::string& text) { return Utf16ToUtf8(Utf8ToUtf16(text)) == text; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool sqlEscape = input.ConsumeBool();
  TTrackMetaData track{input.ConsumeRandomLengthString(40)};
  track.PlayId = input.ConsumeRandomLengthString(8);
  track.ListenedAt = input.ConsumeIntegral<std::int64_t>();
  const std::string format = input.ConsumeRandomLengthString(80);
  FuzzTags tags(input);
  bool usedFileName = false, referenceUsedFileName = false;
  const std::string result = SubTags(tags, track, format, sqlEscape, &usedFileName);
  if (result != Reference(tags, track, format, sqlEscape, referenceUsedFileName)) std::abort();
  if (usedFileName != referenceUsedFileName) std::abort();
  bool validInput = ValidUtf8(track.FileName) && ValidUtf8(track.PlayId) && ValidUtf8(format);
  for (const std::string& value : tags.Values()) validInput = validInput && ValidUtf8(value);
  if (validInput && !ValidUtf8(result)) std::abort();
  return 0;
}
