// SubTags against a reference written from its steps, with and without SQL escaping, and the
// player's answers driven by the input.
#include "track/subtags.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_tags.h"
#include "track/faststrings.h"

namespace {

std::string Escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '\'' || c == '"' || c == '\0') out += '\\';
    out += c;
  }
  return out;
}

std::string Reference(TagSource& tags, const std::string& fileName, const std::string& format, bool sqlEscape,
                      bool& usedFileName) {
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
  std::string s = format;
  int matches = 0, empties = 0;
  for (const std::string& match : found) {
    ++matches;
    std::string value = tags.Tag(fileName, match.substr(1, match.size() - 2));
    if (value.empty()) ++empties;
    for (char& c : value)
      if (c == '%') c = static_cast<char>(176);
    if (sqlEscape) value = Escaped(value);
    s = ReplaceAll(s, match, value);
  }
  s = ReplaceAll(s, std::string(1, static_cast<char>(176)), "%");
  usedFileName = matches == empties;
  if (!usedFileName) return s;
  const std::size_t slash = fileName.find_last_of("\\:");
  s = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  const std::size_t dot = s.rfind('.');
  return dot == std::string::npos ? s : ReplaceAll(s, s.substr(dot), "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool sqlEscape = input.ConsumeBool();
  const TTrackMetaData track{input.ConsumeRandomLengthString(40)};
  const std::string format = input.ConsumeRandomLengthString(80);
  FuzzTags tags(input);
  bool usedFileName = false, referenceUsedFileName = false;
  const std::string result = SubTags(tags, track, format, sqlEscape, &usedFileName);
  if (result != Reference(tags, track.FileName, format, sqlEscape, referenceUsedFileName)) std::abort();
  if (usedFileName != referenceUsedFileName) std::abort();
  return 0;
}
