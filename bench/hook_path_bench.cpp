// The cost the hooks add to a message that is none of the four watched ones: the comparisons and
// nothing else, against a bare forwarding call to the player's own procedure.
#include <benchmark/benchmark.h>

#include "plugin/dispatch.h"

namespace {

using WindowProc = LResult (*)(HostWindow, unsigned, WParam, LParam);

__attribute__((noinline)) LResult PlayersOwnProc(HostWindow window, unsigned msg, WParam wParam,
                                                 LParam lParam) {
  benchmark::DoNotOptimize(window);
  return static_cast<LResult>(msg + wParam) + lParam;
}

// Read through a volatile, as the saved procedure is read from module state in the hooks.
WindowProc volatile savedProc = PlayersOwnProc;

__attribute__((noinline)) LResult BareForward(HostWindow window, unsigned msg, WParam wParam, LParam lParam) {
  return savedProc(window, msg, wParam, lParam);
}

__attribute__((noinline)) void Dispatch(LParam lParam) { benchmark::DoNotOptimize(lParam); }

__attribute__((noinline)) LResult PlaylistHook(HostWindow window, unsigned msg, WParam wParam,
                                               LParam lParam) {
  if (IsTrackNotice(msg, wParam, lParam)) Dispatch(lParam);
  return savedProc(window, msg, wParam, lParam);
}

__attribute__((noinline)) LResult MainHook(HostWindow window, unsigned msg, WParam wParam, LParam lParam) {
  const LResult result = savedProc(window, msg, wParam, lParam);
  if (IsWatchedMainMessage(msg, wParam)) Dispatch(lParam);
  return result;
}

// A mix of everyday messages: mouse moves, paints, timers and commands that are not Pause or Stop.
constexpr unsigned kMessages[] = {0x200, 0x0F, 0x113, 273, 1024, 0x200, 0x84, 0x20};
constexpr WParam kWParams[] = {0, 0, 1, 40045, 665, 1, 0, 0};

template <WindowProc Proc>
void Messages(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    const std::size_t k = i++ & 7;
    benchmark::DoNotOptimize(Proc(0x1234, kMessages[k], kWParams[k], 0x40000000 * (k == 4 ? 0 : 1)));
  }
}

BENCHMARK(Messages<BareForward>)->Name("bare_forwarding_call");
BENCHMARK(Messages<PlaylistHook>)->Name("playlist_hook");
BENCHMARK(Messages<MainHook>)->Name("main_hook");

}  // namespace
