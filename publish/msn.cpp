#include "publish/msn.h"

#include <vector>

#include "runtime/unicode.h"
#include "track/faststrings.h"
#include "track/subtags.h"

namespace {

// Backslash and digit zero as two characters: the messenger's field separator, not a zero byte.
constexpr std::string_view kSep = "\\0";
constexpr std::string_view kClosing = "WMContentID";

// Shortens the values by one unit at a time, always the longest (the later one on a tie, so the
// title, shown first, keeps the most), until fixed + values fit. A surrogate pair goes as a whole.
void CutToFit(std::u16string (&values)[3], std::size_t fixed) {
  auto total = [&] { return fixed + values[0].size() + values[1].size() + values[2].size(); };
  while (total() > kMsnMaxUnits) {
    std::u16string* longest = &values[2];
    for (int i = 1; i >= 0; --i)
      if (values[i].size() > longest->size()) longest = &values[i];
    if (longest->empty()) return;
    longest->pop_back();
    if (!longest->empty() && IsHighSurrogate(longest->back())) longest->pop_back();
  }
}

// The fields before the values: empty, "Music", on or off, the display format; each closed.
std::string Head(const MsnLine& line) {
  std::string head;
  for (std::string_view field : {std::string_view(), std::string_view("Music"), std::string_view(line.on),
                                 std::string_view(line.format)})
    (head += field) += kSep;
  return head;
}

}  // namespace

MsnLine MSNSetLine(TagSource& tags, const TTrackMetaData& track, bool defaultFormat,
                   const std::string& format) {
  if (defaultFormat) {
    const std::string artist = tags.Tag(track.FileName, "artist");
    const std::string album = tags.Tag(track.FileName, "album");
    const std::string title = tags.Tag(track.FileName, "title");
    return {"1", artist.empty() ? "{0}" : "{1} - {0}", {title, artist, album}};
  }
  return {"1", "{0}", {SubTags(tags, track, format, false), "", ""}};
}

MsnLine MSNClearLine() { return {"0", "{0}", {"", "", ""}}; }

std::string MSNText(const MsnLine& line) {
  std::string text = Head(line);
  for (const std::string& value : line.values) (text += value) += kSep;
  text += kClosing;
  text += '\0';
  return text;
}

MsnBlock EncodeMsnBlock(const MsnLine& line) {
  const std::u16string wideHead = Utf8ToUtf16(Head(line));
  const std::u16string wideSep = Utf8ToUtf16(kSep);
  const std::u16string wideClosing = Utf8ToUtf16(kClosing);
  std::u16string values[3] = {Utf8ToUtf16(line.values[0]), Utf8ToUtf16(line.values[1]),
                              Utf8ToUtf16(line.values[2])};

  // Head, the three separators after the values, the closing word and its zero character.
  CutToFit(values, wideHead.size() + 3 * wideSep.size() + wideClosing.size() + 1);

  std::u16string text = wideHead;
  for (const std::u16string& value : values) text += value + wideSep;
  text += wideClosing;
  text += u'\0';
  // Only a head longer than the block itself is left to cut here; the closing zero stays last.
  if (text.size() > kMsnMaxUnits) {
    text.resize(kMsnMaxUnits);
    text.back() = u'\0';
  }

  MsnBlock block{};
  for (std::size_t i = 0; i < text.size(); ++i) {
    block[2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
    block[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
  return block;
}

std::string MsnShownText(const MsnBlock& block) {
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < block.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(block[i] | block[i + 1] << 8);
    if (unit == u'\0') break;
    wide += unit;
  }
  // The fields as the messenger splits them: empty, "Music", on, format, three values, closing.
  std::vector<std::string> fields;
  const std::string text = Utf16ToUtf8(wide);
  for (std::size_t from = 0;;) {
    const std::size_t sep = text.find(kSep, from);
    fields.push_back(text.substr(from, sep - from));
    if (sep == std::string::npos) break;
    from = sep + kSep.size();
  }
  if (fields.size() < 7) return {};
  std::string shown = fields[3];
  for (char slot = '0'; slot <= '2'; ++slot)
    shown = ReplaceAll(shown, std::string{'{', slot, '}'}, fields[4 + (slot - '0')], true);
  return shown;
}

void MSNSetNowPlaying(MessengerLink& link, TagSource& tags, const TTrackMetaData& track, bool defaultFormat,
                      const std::string& format) {
  link.SendToAll(EncodeMsnBlock(MSNSetLine(tags, track, defaultFormat, format)));
}

void MSNClearNowPlaying(MessengerLink& link) { link.SendToAll(EncodeMsnBlock(MSNClearLine())); }
