// The messenger's line for any template and tag values, and its 256-byte block: the text ends in
// a zero unit with only zeros after it; when the fixed fields fit, the field layout and the
// closing "WMContentID" are kept, each value is a prefix of its own, cut longest first, one unit
// at a time, and never inside a surrogate pair; the text is well-formed UTF-16 whatever the bytes.
#include "publish/msn.h"

#include <cstdlib>
#include <string>

#include "fuzz/fuzz_tags.h"
#include "runtime/unicode.h"

namespace {

bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The cut-to-fit rule, written out: take one unit off the longest value (the later on a tie),
// and the high half of a pair with it, until the text fits.
void Cut(std::u16string (&values)[3], std::size_t fixed) {
  while (fixed + values[0].size() + values[1].size() + values[2].size() > kMsnMaxUnits) {
    int longest = 2;
    if (values[1].size() > values[longest].size()) longest = 1;
    if (values[0].size() > values[longest].size()) longest = 0;
    std::u16string& value = values[longest];
    if (value.empty()) return;
    value.pop_back();
    if (!value.empty() && IsHighSurrogate(value.back())) value.pop_back();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool defaultFormat = input.ConsumeBool();
  // The player's file names and tags, and the registry's format, never hold a zero byte.
  const TTrackMetaData track{input.ConsumeRandomLengthString(40).c_str()};
  const std::string format = input.ConsumeRandomLengthString(60).c_str();
  FuzzTags tags(input, true);
  const MsnLine line = MSNSetLine(tags, track, defaultFormat, format);
  const MsnBlock block = EncodeMsnBlock(line);

  std::u16string units;
  for (std::size_t i = 0; i < block.size(); i += 2)
    units += static_cast<char16_t>(block[i] | block[i + 1] << 8);
  const std::size_t end = units.find(u'\0');
  if (end == std::u16string::npos || end >= kMsnMaxUnits) std::abort();
  for (std::size_t i = end; i < units.size(); ++i)
    if (units[i] != 0) std::abort();
  // Whatever bytes the tags held, the text is well-formed UTF-16: every surrogate in a pair.
  for (std::size_t i = 0; i < end; ++i) {
    const bool high = IsHighSurrogate(units[i]), low = IsLow(units[i]);
    if (low || (high && (i + 1 >= end || !IsLow(units[i + 1])))) std::abort();
    if (high) ++i;
  }

  const std::u16string sep = Utf8ToUtf16("\\0"), closing = Utf8ToUtf16("WMContentID");
  const std::u16string head = Utf8ToUtf16("\\0Music\\0" + line.on + "\\0" + line.format + "\\0");
  const std::size_t fixed = head.size() + 3 * sep.size() + closing.size() + 1;
  if (fixed > kMsnMaxUnits) return 0;  // only the user's own format can be that long
  std::u16string values[3];
  for (int i = 0; i < 3; ++i) values[i] = Utf8ToUtf16(line.values[i]);
  const std::u16string whole[3] = {values[0], values[1], values[2]};
  Cut(values, fixed);
  std::u16string expected = head;
  for (int i = 0; i < 3; ++i) {
    if (whole[i].compare(0, values[i].size(), values[i]) != 0) std::abort();
    if (!values[i].empty() && IsHighSurrogate(values[i].back())) std::abort();
    expected += values[i] + sep;
  }
  expected += closing;
  if (units.substr(0, end) != expected) std::abort();
  return 0;
}
