// What semhost's inputs cost as they grow: the automation reader and the
// host's event queue at 1e4, 1e5 and 1e6 entries. Both must grow no faster
// than n log n (Google Benchmark fits the complexity and prints it).
//
//   build/linux64/bench/se_inputs_bench [Google Benchmark flags]

#include <benchmark/benchmark.h>

#include <string>

#include "Automation.h"
#include "SEModule_base.h"
#include "StandInHost.h"

namespace {

// An automation of `n` steps of one pin, one a frame.
std::string AutomationText(int64_t n) {
  std::string text = "{ \"Gain\": {";
  for (int64_t i = 0; i < n; ++i) text += (i ? ", \"" : " \"") + std::to_string(i) + "\": 0.5";
  return text + " } }";
}

void AutomationRead(benchmark::State& state) {
  const int64_t n = state.range(0);
  const std::string text = AutomationText(n);
  for (auto _ : state) {
    semhost::Automation automation;
    std::string error;
    if (!automation.Parse(text, "bench.json", 48000, n, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(automation.steps().data());
  }
  state.SetComplexityN(n);
}

// An audio half that posts events on request and takes them back doing nothing.
class Poster : public SEModule_base {
 public:
  using SEModule_base::SEModule_base;
  void Post(uint32_t time_stamp) { AddEvent(time_stamp, EVT_TIMED_MESSAGE, 0, 0, 0); }
  void HandleEvent(SEEvent*) override {}
};

// `n` events posted at once, one a frame ahead, then every one handed back.
void EventQueue(benchmark::State& state) {
  const int64_t n = state.range(0);
  sehost::StandInHost host;
  Poster* poster = nullptr;
  host.CreateAudio([&](SEHostCallback cb, int32_t ctx) {
    poster = new Poster(cb, ctx);
    return poster->Record();
  });
  host.AudioDispatch(OP_OPEN);
  for (auto _ : state) {
    const uint32_t start = host.schedule().sample_clock();
    for (int64_t i = 1; i <= n; ++i) poster->Post(start + static_cast<uint32_t>(i));
    host.schedule().RunBlock(static_cast<int32_t>(n + 1));
    host.ClearTrace();
  }
  state.SetComplexityN(n);
}

BENCHMARK(AutomationRead)->RangeMultiplier(10)->Range(10000, 1000000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(EventQueue)->RangeMultiplier(10)->Range(10000, 1000000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
