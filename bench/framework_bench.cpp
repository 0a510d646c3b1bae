// What the framework costs a host per call, next to the floor: the same work
// with no framework. Prints Google Benchmark's table, then per mode the ratio
// of the GUI evaluation to the floor, both measured in this run. The
// framework paths run the built module library, loaded by path as a host
// loads it; with --static, the copy linked into this program.
//
//   build/linux64/bench/se_bench [--static] [Google Benchmark flags]

#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "BenchPaths.h"

namespace {

using sebench::kModeCount;
using sebench::kModeNames;

void GuiEvaluation(benchmark::State& state, int mode) {
  sebench::GuiHalf half(mode);
  for (auto _ : state) half.Evaluate();
}

void Floor(benchmark::State& state, int mode) {
  const sebench::FloorPath floor(mode);
  for (auto _ : state) floor.Run();
}

void BareMath(benchmark::State& state, int mode) {
  const sebench::BarePath bare(mode);
  for (auto _ : state) benchmark::DoNotOptimize(bare.Run());
}

void GuiMakeAndClose(benchmark::State& state) {
  for (auto _ : state) sebench::MakeAndClose(2);
}

void AudioMakeAndClose(benchmark::State& state) {
  for (auto _ : state) sebench::MakeAndClose(1);
}

void AudioOpen(benchmark::State& state) {
  sebench::AudioHalf half;
  for (auto _ : state) half.Open();
}

void AudioProcess(benchmark::State& state) {
  sebench::AudioHalf half;
  for (auto _ : state) half.Process();
}

// Keeps each benchmark's CPU time per iteration (the median when repeated)
// while the console reporter prints as usual.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const std::string& name = run.run_name.function_name;
      if (run.error_occurred) continue;
      if (median || (run.run_type == Run::RT_Iteration && !m_has_median[name])) {
        m_seconds[name] = run.GetAdjustedCPUTime();
      }
      if (median) m_has_median[name] = true;
    }
  }

  // The time of `name` in the run's unit, or a negative value if it did not run.
  double Time(const std::string& name) const {
    const auto it = m_seconds.find(name);
    return it == m_seconds.end() ? -1.0 : it->second;
  }

 private:
  std::map<std::string, double> m_seconds;
  std::map<std::string, bool> m_has_median;
};

}  // namespace

int main(int argc, char** argv) {
  // --static may stand anywhere among Google Benchmark's flags.
  bool linked = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--static") != 0) continue;
    linked = true;
    for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
    --argc;
    break;
  }
  if (!linked) {
    const std::string error = sebench::UseModuleLibrary(sebench::kModuleLibraryPath);
    if (!error.empty()) {
      fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
      return 2;
    }
  }
  for (int mode = 0; mode < kModeCount; ++mode) {
    const std::string name = kModeNames[mode];
    benchmark::RegisterBenchmark(("GuiEvaluation/" + name).c_str(), GuiEvaluation, mode);
    benchmark::RegisterBenchmark(("Floor/" + name).c_str(), Floor, mode);
    benchmark::RegisterBenchmark(("BareMath/" + name).c_str(), BareMath, mode);
  }
  benchmark::RegisterBenchmark("GuiMakeAndClose", GuiMakeAndClose);
  benchmark::RegisterBenchmark("AudioMakeAndClose", AudioMakeAndClose);
  benchmark::RegisterBenchmark("AudioOpen", AudioOpen);
  benchmark::RegisterBenchmark("AudioProcess", AudioProcess);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  printf("\nGUI evaluation / floor, measured in this run (CPU time per call):\n");
  printf("%-6s %12s %12s %12s %8s\n", "mode", "evaluation", "floor", "math alone", "ratio");
  for (int mode = 0; mode < kModeCount; ++mode) {
    const std::string name = kModeNames[mode];
    const double gui = reporter.Time("GuiEvaluation/" + name);
    const double floor = reporter.Time("Floor/" + name);
    const double bare = reporter.Time("BareMath/" + name);
    if (gui < 0 || floor <= 0) continue;  // filtered out
    printf("%-6s %10.2fns %10.2fns %10.2fns %8.3f\n", name.c_str(), gui, floor, bare, gui / floor);
  }
  benchmark::Shutdown();
  return 0;
}
