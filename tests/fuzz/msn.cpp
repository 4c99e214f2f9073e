// The messenger's line for any template and tag values, and its 256-byte block: the text ends in
// a zero unit with only zeros after it; when the fixed fields fit, the field layout and the
// closing "WMContentID" are kept, each value is a prefix of its own, cut longest first, one unit
// at a time, and never inside a surrogate pair.
#include "publish/msn.h"

#include <cstdlib>
#include <string>

#include "fuzz/fuzz_tags.h"

namespace {

// Bytes from 0xF0 up stand for characters outside the basic plane, so surrogate pairs occur.
class FuzzMessenger final : public MessengerLink {
 public:
  std::u16string Widen(std::string_view ansi) const override {
    std::u16string wide;
    for (unsigned char c : ansi) {
      if (c >= 0xF0) {
        wide += static_cast<char16_t>(0xD800 + c);
        wide += static_cast<char16_t>(0xDC00 + c);
      } else {
        wide += static_cast<char16_t>(c < 0x80 ? c : c + 0x100);
      }
    }
    return wide;
  }
  void SendToAll(const MsnBlock&) override {}
};

bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

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
    if (!value.empty() && IsHigh(value.back())) value.pop_back();
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
  FuzzMessenger messenger;
  const MsnLine line = MSNSetLine(tags, track, defaultFormat, format);
  const MsnBlock block = EncodeMsnBlock(line, messenger);

  std::u16string units;
  for (std::size_t i = 0; i < block.size(); i += 2)
    units += static_cast<char16_t>(block[i] | block[i + 1] << 8);
  const std::size_t end = units.find(u'\0');
  if (end == std::u16string::npos || end >= kMsnMaxUnits) std::abort();
  for (std::size_t i = end; i < units.size(); ++i)
    if (units[i] != 0) std::abort();

  const std::u16string sep = messenger.Widen("\\0"), closing = messenger.Widen("WMContentID");
  const std::u16string head = messenger.Widen("\\0Music\\0" + line.on + "\\0" + line.format + "\\0");
  const std::size_t fixed = head.size() + 3 * sep.size() + closing.size() + 1;
  if (fixed > kMsnMaxUnits) return 0;  // only the user's own format can be that long
  std::u16string values[3];
  for (int i = 0; i < 3; ++i) values[i] = messenger.Widen(line.values[i]);
  const std::u16string whole[3] = {values[0], values[1], values[2]};
  Cut(values, fixed);
  std::u16string expected = head;
  for (int i = 0; i < 3; ++i) {
    if (whole[i].compare(0, values[i].size(), values[i]) != 0) std::abort();
    if (!values[i].empty() && IsHigh(values[i].back())) std::abort();
    expected += values[i] + sep;
  }
  expected += closing;
  if (units.substr(0, end) != expected) std::abort();
  return 0;
}
