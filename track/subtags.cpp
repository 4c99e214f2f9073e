#include "track/subtags.h"

#include <cstddef>
#include <string_view>

#include "diag/globals.h"
#include "track/faststrings.h"

namespace {

// While values go in, their own percent signs are held as this byte, so a value holding "%title%"
// is not taken for a tag by a later replacement.
constexpr char kPercentMarker = static_cast<char>(176);

// Finds the next match of "(%[^%]+%)" at or after from: a percent sign, at least one other
// character, a percent sign. Returns false when there is none.
bool NextTag(std::string_view text, std::size_t from, std::size_t& start, std::size_t& length) {
  while (true) {
    const std::size_t open = text.find('%', from);
    if (open == std::string_view::npos) return false;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) return false;
    if (close > open + 1) {
      start = open;
      length = close - open + 1;
      return true;
    }
    from = close;  // "%%": the second sign may open a tag.
  }
}

std::string WithoutPercentSigns(std::string_view tag) {
  std::string name;
  for (char c : tag)
    if (c != '%') name += c;
  return name;
}

std::string SqlEscaped(std::string value) {
  // Backslashes first, so the ones added below are not doubled.
  value = ReplaceAll(value, "\\", "\\\\");
  value = ReplaceAll(value, "'", "\\'");
  value = ReplaceAll(value, "\"", "\\\"");
  return ReplaceAll(value, std::string_view("\0", 1), std::string_view("\\\0", 2));
}

// The file name without directory and without any occurrence of its extension.
std::string BareFileName(const std::string& fileName) {
  const std::size_t slash = fileName.find_last_of("\\:");
  const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return name;
  return ReplaceAll(name, std::string_view(name).substr(dot), "");
}

}  // namespace

std::string SubTags(TagSource& tags, const TTrackMetaData& track, const std::string& trackFormat,
                    bool sqlEscape, bool* usedFileName) {
  std::string result = trackFormat;
  LogDebug("SubTags");
  LogDebug("SubTags: TrackFormat=" + trackFormat);
  LogDebug("SubTags: RegExp Loop");

  int matches = 0;
  int empties = 0;
  std::size_t start = 0;
  std::size_t length = 0;
  // The template itself is searched, not the text being built, so inserted values are never tags.
  for (std::size_t from = 0; NextTag(trackFormat, from, start, length); from = start + length) {
    const std::string match = trackFormat.substr(start, length);
    ++matches;
    LogDebug("SubTags: Match(" + std::to_string(matches) + ") - " + match);

    std::string value = tags.Tag(track.FileName, WithoutPercentSigns(match));
    if (value.empty()) ++empties;
    for (char& c : value)
      if (c == '%') c = kPercentMarker;
    if (sqlEscape) value = SqlEscaped(std::move(value));
    result = ReplaceAll(result, match, value);
  }
  result = ReplaceAll(result, std::string_view(&kPercentMarker, 1), "%");

  const bool fallBack = matches == empties;
  if (fallBack) result = BareFileName(track.FileName);
  if (usedFileName) *usedFileName = fallBack;

  LogDebug("SubTags: Output=" + result);
  return result;
}
