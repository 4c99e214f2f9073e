// SubTags for the default mIRC command with a tag source that answers at once: the cost of the
// expansion itself, without the player's round trips. Logging is off, as it is by default.
#include <benchmark/benchmark.h>

#include <string>

#include "track/subtags.h"

namespace {

class InstantTags : public TagSource {
 public:
  std::string Tag(const std::string&, const std::string& name) override {
    return name == "artist" ? "Some Artist" : "A Rather Longer Song Title";
  }
};

void BM_SubTagsDefaultMircCommand(benchmark::State& state) {
  InstantTags tags;
  const TTrackMetaData track{"C:\\Music\\Some Artist - A Rather Longer Song Title.mp3"};
  const std::string command = "/ame is listening to %artist% - %title%";
  for (auto _ : state) benchmark::DoNotOptimize(SubTags(tags, track, command, false));
}
BENCHMARK(BM_SubTagsDefaultMircCommand);

}  // namespace
