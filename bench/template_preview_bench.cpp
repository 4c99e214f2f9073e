// One keystroke in a template field of the dialog: its preview line rebuilt from the whole
// template, as the window thread does at each change. The template is long (4 KB, 200 tags) and
// the track's tags are already known, as they are after the first keystroke.
#include <benchmark/benchmark.h>

#include <string>

#include "config/template_preview.h"

namespace {

class InstantTags : public TagSource {
 public:
  std::string Tag(const std::string&, const std::string& name) override {
    return name == "artist" ? "Guns N' Roses" : "Sweet Child o' Mine";
  }
};

std::string LongTemplate() {
  std::string text = "INSERT INTO played (artist, title) VALUES ";
  while (text.size() < 4096) text += "('%artist%', '%title%'), ";
  return text;
}

template <std::string (*Preview)(PreviewTrack&, const std::string&)>
void BM_Keystroke(benchmark::State& state) {
  InstantTags player;
  PreviewTrack track(TTrackMetaData{"C:\\Music\\Guns N' Roses - Sweet Child o' Mine.mp3"}, player);
  const std::string text = LongTemplate();
  for (auto _ : state) benchmark::DoNotOptimize(PreviewLine(track, Preview(track, text)));
  state.SetLabel(std::to_string(text.size()) + " bytes");
}
BENCHMARK(BM_Keystroke<MircPreview>)->Name("BM_PreviewKeystroke/mIRC");
BENCHMARK(BM_Keystroke<MySQLPreview>)->Name("BM_PreviewKeystroke/MySQL");
BENCHMARK(BM_Keystroke<FilePreview>)->Name("BM_PreviewKeystroke/File");

}  // namespace
