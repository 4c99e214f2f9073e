// Case-insensitive replace-all of an 8-byte tag with one match per KiB, against the naive way:
// lower-case both texts, then std::string::find.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "track/faststrings.h"

namespace {

const std::string kTag = "%Artist%";

std::string MakeText(std::size_t size) {
  std::string text(size, ' ');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
  for (std::size_t at = 512; at + kTag.size() <= size; at += 1024) text.replace(at, kTag.size(), "%ARTIST%");
  return text;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
  return s;
}

std::string NaiveReplaceAll(const std::string& source, const std::string& find,
                            const std::string& replacement) {
  const std::string lowerSource = Lower(source), lowerFind = Lower(find);
  std::string out;
  std::size_t pos = 0;
  for (std::size_t match; (match = lowerSource.find(lowerFind, pos)) != std::string::npos;
       pos = match + find.size()) {
    out.append(source, pos, match - pos);
    out += replacement;
  }
  out.append(source, pos);
  return out;
}

void Fast(benchmark::State& state) {
  const std::string text = MakeText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReplaceAll(text, kTag, "Some Artist"));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Naive(benchmark::State& state) {
  const std::string text = MakeText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(NaiveReplaceAll(text, kTag, "Some Artist"));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(Fast)->Name("ReplaceAll")->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(Naive)->Name("naive_lower_and_find")->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
