#pragma once
// The messenger's now-playing line: its text, the 256-byte UTF-16 block it travels in, and the
// publisher that builds and delivers it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "track/track.h"

constexpr std::uintptr_t kMsnCopyDataId = 1351;
constexpr std::size_t kMsnBlockSize = 256;
// Units of text the block carries, the text's own closing zero included; one more zero follows.
constexpr std::size_t kMsnMaxUnits = 127;

using MsnBlock = std::array<std::uint8_t, kMsnBlockSize>;

// The fields of the line. Each is kept apart so that an over-long line can be cut in its values.
struct MsnLine {
  std::string on;      // "1" shows the line, "0" switches it off
  std::string format;  // {0}, {1} and {2} stand for the values
  std::string values[3];
};

// The line for a track: the built-in artist/title/album form, or the template expanded for it.
MsnLine MSNSetLine(TagSource& tags, const TTrackMetaData& track, bool defaultFormat,
                   const std::string& format);
// The line that switches the messenger's display off.
MsnLine MSNClearLine();

// The text of a line: fields separated by backslash-zero, closed by "WMContentID" and
// one real zero character.
std::string MSNText(const MsnLine& line);

// What the publisher needs of the platform: the running messengers.
class MessengerLink {
 public:
  virtual ~MessengerLink() = default;
  // Sends the block to every messenger window, in the order the window search finds them.
  virtual void SendToAll(const MsnBlock& block) = 0;
};

// The block of a line: its UTF-8 text as UTF-16, zero-filled after. A text over kMsnMaxUnits is cut
// in its values, longest first and never inside a surrogate pair, so that every separator and the
// closing "WMContentID" survive.
MsnBlock EncodeMsnBlock(const MsnLine& line);

// What the messenger shows of a block: its display format with {0}, {1} and {2} replaced by the
// values, as they arrive after any cut.
std::string MsnShownText(const MsnBlock& block);

void MSNSetNowPlaying(MessengerLink& link, TagSource& tags, const TTrackMetaData& track, bool defaultFormat,
                      const std::string& format);
void MSNClearNowPlaying(MessengerLink& link);
