#include "track/subtags.h"

#include <cstddef>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "diag/globals.h"
#include "track/faststrings.h"
#include "track/globals_misc.h"

namespace {

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

// The tags the play itself answers rather than the player.
std::optional<std::string> PlayTag(const TTrackMetaData& track, const std::string& name) {
  const std::string lower = LowerAscii(name);
  if (lower == "playid") return track.PlayId;
  if (lower == "listened_at") return std::to_string(track.ListenedAt);
  return std::nullopt;
}

std::string SqlEscaped(std::string value) {
  // Backslashes first, so the ones added below are not doubled. The quote is doubled rather than
  // escaped: with the server's NO_BACKSLASH_ESCAPES a backslash is an ordinary character, and
  // \' would end the literal there.
  value = ReplaceAll(value, "\\", "\\\\");
  value = ReplaceAll(value, "'", "''");
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

// The text being built, kept as the template's own pieces and the values put between them. Only
// the template's pieces are searched, so nothing a value holds, percent signs included, is ever
// taken for a tag, and no byte has to stand in for them.
class Expansion {
 public:
  explicit Expansion(std::string format) { pieces_.push_back({std::move(format), false}); }

  // Every occurrence of tag in the template's text, in any letter case, becomes value.
  void Replace(std::string_view tag, const std::string& value) {
    // A tag replaced by a value is gone from the template's text for good, so a repeat of it finds
    // nothing; only an empty value, which joins text, can make one anew. Skipping the repeats keeps
    // a long template's expansion linear rather than a pass per tag.
    if (!value.empty() && replaced_.count(tag)) return;
    std::vector<Piece> next;
    // An empty value leaves the template's text on either side joined, as replacing in one string
    // would, so a later tag may be found across it.
    const auto add = [&next](Piece piece) {
      if (piece.value && piece.text.empty()) return;
      if (!piece.value && !next.empty() && !next.back().value) {
        next.back().text += piece.text;
        return;
      }
      next.push_back(std::move(piece));
    };
    for (Piece& piece : pieces_) {
      if (piece.value) {
        add(std::move(piece));
        continue;
      }
      std::size_t from = 0;
      for (std::size_t at; (at = FindText(piece.text, tag, from)) != std::string::npos;
           from = at + tag.size()) {
        add({piece.text.substr(from, at - from), false});
        add({value, true});
      }
      add({piece.text.substr(from), false});
    }
    pieces_ = std::move(next);
    if (value.empty())
      replaced_.clear();
    else
      replaced_.emplace(tag);
  }

  std::string Text() const {
    std::string text;
    for (const Piece& piece : pieces_) text += piece.text;
    return text;
  }

 private:
  struct Piece {
    std::string text;
    bool value;
  };
  std::vector<Piece> pieces_;
  std::set<std::string, std::less<>> replaced_;
};

}  // namespace

std::string SubTags(TagSource& tags, const TTrackMetaData& track, const std::string& trackFormat,
                    bool sqlEscape, bool* usedFileName) {
  Expansion expansion(trackFormat);
  const bool logged = tags.Logged();
  if (logged) {
    LogDebug("SubTags");
    LogDebug("SubTags: TrackFormat=" + trackFormat);
    LogDebug("SubTags: RegExp Loop");
  }

  int matches = 0;
  int empties = 0;
  std::size_t start = 0;
  std::size_t length = 0;
  for (std::size_t from = 0; NextTag(trackFormat, from, start, length); from = start + length) {
    const std::string match = trackFormat.substr(start, length);
    ++matches;
    if (logged) LogDebug("SubTags: Match(" + std::to_string(matches) + ") - " + match);

    const std::string name = WithoutPercentSigns(match);
    std::string value;
    if (const std::optional<std::string> play = PlayTag(track, name)) {
      value = *play;
      // Always known, so never a sign that the player knew the track: they count as empty.
      ++empties;
    } else {
      value = tags.Tag(track.FileName, name);
      if (value.empty()) ++empties;
    }
    if (sqlEscape) value = SqlEscaped(std::move(value));
    expansion.Replace(match, value);
  }

  const bool fallBack = matches == empties;
  const std::string result = fallBack ? BareFileName(track.FileName) : expansion.Text();
  if (usedFileName) *usedFileName = fallBack;

  if (logged) LogDebug("SubTags: Output=" + result);
  return result;
}
