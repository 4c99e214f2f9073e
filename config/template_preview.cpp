#include "config/template_preview.h"

#include <utility>

#include "database/thread_mysql_updater.h"
#include "publish/mirc.h"
#include "publish/msn.h"
#include "publish/nowplaying_file.h"
#include "track/faststrings.h"
#include "track/globals_misc.h"

namespace {

// A quote in its tags, so that the database's line shows the escaping.
constexpr const char* kSampleFile = "C:\\Music\\Guns N' Roses - Sweet Child o' Mine.mp3";
constexpr const char* kSampleTags[][2] = {
    {"artist", "Guns N' Roses"},
    {"title", "Sweet Child o' Mine"},
    {"album", "Appetite for Destruction"},
    {"year", "1987"},
    {"genre", "Rock"},
    {"tracknumber", "9"},
};
constexpr const char* kSamplePlayId = "4f0c1d2e-3b4a-4c5d-8e6f-7a8b9c0d1e2f";
constexpr std::int64_t kSampleListenedAt = 1767225600;  // 2026-01-01 00:00 UTC

TTrackMetaData SampleTrack() {
  TTrackMetaData track{kSampleFile};
  track.PlayId = kSamplePlayId;
  track.ListenedAt = kSampleListenedAt;
  return track;
}

}  // namespace

std::string PreviewTrack::SampleTags::Tag(const std::string&, const std::string& name) {
  const std::string lower = LowerAscii(name);
  for (const auto& [tag, value] : kSampleTags)
    if (lower == tag) return value;
  return "";
}

PreviewTrack::PreviewTrack(std::optional<TTrackMetaData> playing, TagSource& player)
    : sample_(!playing),
      track_(playing ? std::move(*playing) : SampleTrack()),
      memo_(sample_ ? static_cast<TagSource&>(sampleTags_) : player, /*logged=*/false) {}

std::string MsnPreview(PreviewTrack& track, bool defaultFormat, const std::string& format) {
  return MsnShownText(EncodeMsnBlock(MSNSetLine(track.Tags(), track.Track(), defaultFormat, format)));
}

std::string MircPreview(PreviewTrack& track, const std::string& command) {
  return MircCommand(track.Tags(), track.Track(), command);
}

std::string MySQLPreview(PreviewTrack& track, const std::string& command) {
  MySQLTarget target;
  target.Command = command;
  // The sender's lines would read as a track handed over.
  MySQLUpdateSeams quiet;
  quiet.log = [](std::string_view) {};
  return PrepareMySQLUpdate(track.Track(), target, track.Tags(), quiet).value_or(kPreviewNoStatement);
}

std::string FilePreview(PreviewTrack& track, const std::string& format) {
  return NowPlayingText(track.Tags(), track.Track(), format);
}

std::string PreviewLine(const PreviewTrack& track, const std::string& text) {
  std::string line = ReplaceAll(text, "\r\n", kPreviewLineBreak, true);
  line = ReplaceAll(line, "\n", kPreviewLineBreak, true);
  return (track.IsSample() ? kPreviewSample : kPreviewPlaying) +
         ReplaceAll(line, "\r", kPreviewLineBreak, true);
}
