#pragma once
// What each template field of the dialog gives for a track, rendered by the very functions its
// destination sends with, so that the line under the field is what would be sent.
#include <optional>
#include <string>

#include "track/track.h"

// The line under a field begins with one of these: the playing track, or the sample that stands
// in for it while nothing plays.
inline constexpr const char* kPreviewPlaying = "Playing: ";
inline constexpr const char* kPreviewSample = "Sample track: ";
// A line break of the text, shown on the one line.
inline constexpr const char* kPreviewLineBreak = " \u00b6 ";
// The database's line when the statement would not be sent.
inline constexpr const char* kPreviewNoStatement = "no statement: no tag of the track has a value";

// The track the previews show and its tags. The playing track's tags are asked of the player once
// each, on the window thread, so typing costs no round trip for a tag already seen.
class PreviewTrack {
 public:
  // playing: the track the player plays now, or none for the sample.
  PreviewTrack(std::optional<TTrackMetaData> playing, TagSource& player);
  PreviewTrack(const PreviewTrack&) = delete;
  PreviewTrack& operator=(const PreviewTrack&) = delete;

  bool IsSample() const { return sample_; }
  const TTrackMetaData& Track() const { return track_; }
  TagSource& Tags() { return memo_; }

 private:
  class SampleTags final : public TagSource {
   public:
    std::string Tag(const std::string& fileName, const std::string& name) override;
  };
  bool sample_;
  TTrackMetaData track_;
  SampleTags sampleTags_;
  TagMemo memo_;
};

// The texts as each destination makes them for the track; the database's with its escaping, or
// kPreviewNoStatement.
std::string MsnPreview(PreviewTrack& track, bool defaultFormat, const std::string& format);
std::string MircPreview(PreviewTrack& track, const std::string& command);
std::string MySQLPreview(PreviewTrack& track, const std::string& command);
std::string FilePreview(PreviewTrack& track, const std::string& format);

// text as the line under a field shows it: said whose it is, on one line.
std::string PreviewLine(const PreviewTrack& track, const std::string& text);
