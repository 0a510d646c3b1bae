// What semhost's inputs cost as they grow: the automation reader and the
// host's event queue at 1e4, 1e5 and 1e6 entries. Both must grow no faster
// than n log n (Google Benchmark fits the complexity and prints it). The
// queue is measured twice: on its own (the schedule with a half that takes
// each call and event and does nothing), and through the stand-in host and a
// module, where the host's trace of every call (three entries a frame, kept
// for the whole block) grows beside it.
//
//   build/linux64/bench/se_inputs_bench [Google Benchmark flags]

#include <benchmark/benchmark.h>

#include <string>

#include "Automation.h"
#include "AudioSchedule.h"
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

// A half for the schedule alone: every call and event taken, nothing done.
class QuietHalf : public sehost::AudioHalfCalls {
 public:
  bool HasAudioHalf() const override { return true; }
  void CallProcess(int32_t, int32_t) override { ++calls; }
  void DeliverEvent(const SEEvent&) override { ++events; }
  int64_t calls = 0;
  int64_t events = 0;
};

// `n` events posted at once, one a frame ahead, then every one handed back,
// by the schedule alone.
void EventQueueAlone(benchmark::State& state) {
  const int64_t n = state.range(0);
  QuietHalf half;
  sehost::AudioSchedule schedule(half);
  for (auto _ : state) {
    const uint32_t start = schedule.sample_clock();
    for (int64_t i = 1; i <= n; ++i) {
      schedule.PostModuleEvent(SEEvent{start + static_cast<uint32_t>(i), EVT_TIMED_MESSAGE, 0, 0, 0, nullptr});
    }
    schedule.RunBlock(static_cast<int32_t>(n + 1));
  }
  if (half.events != n * static_cast<int64_t>(state.iterations())) state.SkipWithError("events were lost");
  state.SetComplexityN(n);
}

BENCHMARK(AutomationRead)->RangeMultiplier(10)->Range(10000, 1000000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(EventQueueAlone)->RangeMultiplier(10)->Range(10000, 1000000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(EventQueue)->RangeMultiplier(10)->Range(10000, 1000000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
