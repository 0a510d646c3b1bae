// The audio half over a stream: the same input and changes give the same
// output however the host splits it into blocks; finite input gives finite
// output; process calls and event deliveries allocate nothing.
//
// Each render runs a fresh instance through the host's audio engine at
// 48000 Hz: seeded random input in [-1, 1) on every sample input (the
// repeating one given two channels), the streams ending at different frames
// and the render running on past them; three step changes of every input
// control a host can set, at seeded frames off block boundaries.

#include "Checks.h"

#include <string.h>

#include <algorithm>
#include <cmath>

#include "AudioEngine.h"
#include "CheckTools.h"
#include "CrashReporter.h"
#include "FloatBits.h"
#include "HeapMeter.h"
#include "SeededRandom.h"
#include "Text.h"

namespace semhost {

namespace {

using sehost::AudioEngine;
using sehost::Entry;
using sehost::StandInHost;
using sehost::TraceEntry;
using setest::SeededRandom;

constexpr int64_t kStreamFrames = 2048;
constexpr int64_t kRenderFrames = 2304;
constexpr float kSampleRate = 48000.0f;

struct Scenario {
  std::vector<std::vector<float>> streams;  // one per sample input that gets one
  struct Step {
    int32_t declaration;
    uint32_t bits;
    uint32_t frame;
  };
  std::vector<Step> steps;
};

// The copies a host gives the repeating group: two when it holds a sample input.
int32_t Repeats(const std::vector<SEPinProperties>& pins) {
  const int32_t repeating = AudioEngine::RepeatingDeclaration(pins);
  if (repeating < 0) return 1;
  for (size_t i = static_cast<size_t>(repeating); i < pins.size(); ++i) {
    if (pins[i].datatype == DT_FSAMPLE && pins[i].direction == DR_IN) return 2;
  }
  return 1;
}

Scenario MakeScenario(const std::vector<PinInfo>& pins, const AudioEngine& engine, uint64_t seed) {
  Scenario scenario;
  SeededRandom random(seed);
  for (size_t i = 0; i < engine.sample_inputs().size(); ++i) {
    std::vector<float> stream(static_cast<size_t>(kStreamFrames - 300 * static_cast<int64_t>(i % 4)));
    for (float& sample : stream) sample = static_cast<float>(random.Between(-32768, 32767)) / 32768.0f;
    scenario.streams.push_back(std::move(stream));
  }
  std::string why;
  for (const PinInfo* pin : SettableInputs(pins)) {
    if (!engine.CanSet(pin->index, &why)) continue;
    for (int k = 0; k < 3; ++k) {
      uint32_t bits = 0;
      if (pin->IsEnum()) {
        bits = pin->choices.empty() ? 0u : static_cast<uint32_t>(pin->choices[random.Below(static_cast<uint32_t>(pin->choices.size()))].value);
      } else if (pin->datatype == DT_FLOAT) {
        bits = setest::FloatBits(static_cast<float>(random.Between(-64, 64)) / 32.0f);
      } else {
        bits = static_cast<uint32_t>(random.Between(0, 8));
      }
      // Off the boundaries of blocks of 64.
      const uint32_t block = static_cast<uint32_t>(random.Between(0, static_cast<int32_t>(kRenderFrames / 64) - 1));
      const uint32_t frame = block * 64u + 1u + static_cast<uint32_t>(random.Between(0, 59) + k);
      scenario.steps.push_back({pin->index, bits, frame});
    }
  }
  return scenario;
}

// How a render splits the frames into blocks.
struct Split {
  const char* name;
  const char* phase;  // static text, for a crash report
  int32_t block_size;
  bool random;
  bool changes = true;  // the scenario's step changes of the controls; else the values the module opens with
};

// Renders the scenario on a fresh instance into `outputs`, one vector per
// sample output; false with the check failed, or skipped when the module has
// no sample output and `need_outputs`. `prepare` runs after the audio half
// is open, before the first block.
bool Render(CheckContext& ctx, Session& session, const Split& split, uint64_t seed,
            std::vector<std::vector<float>>* result, bool need_outputs = true,
            const std::function<void(StandInHost&)>& prepare = nullptr) {
  std::vector<std::vector<float>>& outputs = *result;
  std::string error;
  if (!session.ReadAudioPins(&error)) {
    ctx.Fail(error);
    return false;
  }
  StandInHost& host = session.host();
  AudioEngine engine(host, session.pins(), Repeats(session.pins()));
  if (need_outputs && engine.sample_outputs().empty()) {
    ctx.Skip("the module declares no sample output (DT_FSAMPLE) to render");
    return false;
  }
  const std::vector<PinInfo> pins = Describe(session.pins());
  const Scenario scenario = MakeScenario(pins, engine, seed);
  session.OpenAudio(kSampleRate, split.block_size, &engine);
  for (size_t i = 0; i < scenario.streams.size(); ++i) {
    engine.Stream(i, scenario.streams[i].data(), static_cast<int64_t>(scenario.streams[i].size()));
  }
  for (const Scenario::Step& step : split.changes ? scenario.steps : std::vector<Scenario::Step>()) {
    engine.ScheduleChange(step.declaration, step.bits, step.frame, &error);
  }
  if (prepare) prepare(host);
  outputs.assign(engine.sample_outputs().size(), std::vector<float>());
  SeededRandom lengths(seed ^ 0x5EEDu);
  for (int64_t done = 0, block = 0; done < kRenderFrames && host.audio(); ++block) {
    int32_t frames = static_cast<int32_t>(std::min<int64_t>(split.block_size, kRenderFrames - done));
    if (split.random) frames = std::min(frames, lengths.Between(1, split.block_size));
    CrashReporter::SetStep(block);
    engine.Process(frames);
    for (size_t o = 0; o < outputs.size(); ++o) outputs[o].insert(outputs[o].end(), engine.Output(o), engine.Output(o) + frames);
    done += frames;
  }
  return ctx.verdict() == Verdict::kPass;
}

std::string OutputName(const Session& session, size_t output) {
  // The declaration of the output's pin: outputs are numbered in declaration order.
  size_t seen = 0;
  for (const SEPinProperties& p : session.pins()) {
    if (!SEPinHasAudioSide(p) || p.datatype != DT_FSAMPLE || p.direction != DR_OUT) continue;
    if (seen++ == output) return "\"" + Printable(p.name) + "\"";
  }
  return "output " + std::to_string(output + 1) + " (a repeat)";
}

void CheckBlockSizeInvariance(CheckContext& ctx) {
  const uint64_t seed = ctx.options().seed;
  const Split splits[] = {{"block size 1", "rendering with block size 1", 1, false},
                          {"block size 64", "rendering with block size 64", 64, false},
                          {"a random split (runs of 1 to 64)", "rendering with a random split of blocks of 64", 64, true}};
  std::vector<std::vector<float>> reference;
  std::unique_ptr<Session> reference_session;
  for (const Split& split : splits) {
    ctx.Phase(split.phase);
    auto session = ctx.NewSession();
    std::vector<std::vector<float>> outputs;
    if (!Render(ctx, *session, split, seed, &outputs)) return;
    if (reference.empty()) {
      reference = outputs;
      continue;
    }
    for (size_t o = 0; o < outputs.size(); ++o) {
      for (size_t f = 0; f < outputs[o].size() && f < reference[o].size(); ++f) {
        if (setest::FloatBits(outputs[o][f]) != setest::FloatBits(reference[o][f])) {
          return ctx.Fail(OutputName(*session, o) + " at frame " + std::to_string(f) + " is " +
                          FormatFloat(outputs[o][f]) + " with " + split.name + " but " + FormatFloat(reference[o][f]) +
                          " with block size 1");
        }
      }
    }
  }
  ctx.Note(std::to_string(reference.size()) + " output(s) over " + std::to_string(kRenderFrames) +
           " frames, bit-identical with block size 1, 64 and a random split (seed " + std::to_string(seed) + ")");
}

void CheckFiniteOutput(CheckContext& ctx) {
  // The controls keep the values the module opens with: a control may choose
  // a function that is undefined for part of the input (a square root of a
  // negative sample), which is the module's meaning, not a fault.
  const Split split = {"block size 64", "rendering finite input with block size 64", 64, false, false};
  ctx.Phase(split.phase);
  auto session = ctx.NewSession();
  std::vector<std::vector<float>> outputs;
  if (!Render(ctx, *session, split, ctx.options().seed, &outputs)) return;
  for (size_t o = 0; o < outputs.size(); ++o) {
    for (size_t f = 0; f < outputs[o].size(); ++f) {
      if (!std::isfinite(outputs[o][f])) {
        return ctx.Fail(OutputName(*session, o) + " is " + FormatFloat(outputs[o][f]) + " at frame " + std::to_string(f) +
                        " though every input sample is finite and the controls keep their first values");
      }
    }
  }
  ctx.Note(std::to_string(outputs.size()) + " output(s) over " + std::to_string(kRenderFrames) + " frames, every sample finite");
}

// Counts the allocations made inside process calls and event deliveries,
// leaving out the host's answers to the module's callbacks and the growth of
// the host's trace as it records them (one allocation each time its capacity
// changes). Observes its session alone (no trace, no coverage, which
// allocate) and tells the crash reporter first, which allocates nothing.
class AllocationWatch : public CallObserver {
 public:
  void CallStarted(const TraceEntry& entry, const StandInHost& host) override {
    m_crash.CallStarted(entry, host);
    const unsigned long long now = HeapMeter::Allocations();
    if (!entry.IsCallback() && (entry.entry == Entry::kProcess || entry.entry == Entry::kEvent)) {
      m_inside = true;
      m_found = 0;
      m_mark = now;
      m_trace_capacity = host.trace_capacity();
    } else if (m_inside && entry.IsCallback()) {
      // The trace grew to record this callback: the host's allocation.
      const unsigned long long host_growth = host.trace_capacity() != m_trace_capacity ? 1 : 0;
      m_trace_capacity = host.trace_capacity();
      m_found += now - m_mark > host_growth ? now - m_mark - host_growth : 0;
    }
  }
  void CallReturned(const TraceEntry& entry, const StandInHost& host) override {
    m_crash.CallReturned(entry, host);
    const unsigned long long now = HeapMeter::Allocations();
    if (m_inside && entry.IsCallback()) {
      m_mark = now;
    } else if (m_inside && (entry.entry == Entry::kProcess || entry.entry == Entry::kEvent)) {
      m_inside = false;
      m_found += now - m_mark;
      const bool process = entry.entry == Entry::kProcess;
      (process ? m_process_calls : m_event_calls) += 1;
      if (m_found > 0) {
        (process ? m_process_allocations : m_event_allocations) += m_found;
        if (m_first.empty()) {
          m_first = std::string(process ? "a process call" : "an event delivery") + " at clock " +
                    std::to_string(host.schedule().sample_clock());
        }
      }
    }
  }
  void LibraryCallStarted(const std::string& call) override { m_crash.LibraryCallStarted(call); }
  void LibraryCallReturned(const std::string& answer) override { m_crash.LibraryCallReturned(answer); }

  CrashReporter m_crash;
  bool m_inside = false;
  unsigned long long m_mark = 0;
  unsigned long long m_found = 0;
  size_t m_trace_capacity = 0;
  unsigned long long m_process_allocations = 0;
  unsigned long long m_event_allocations = 0;
  long long m_process_calls = 0;
  long long m_event_calls = 0;
  std::string m_first;
};

void CheckNoAllocation(CheckContext& ctx) {
  if (!HeapMeter::CountsAllocations()) return ctx.Skip("this platform's allocations cannot be counted");
  AllocationWatch watch;
  Session session(ctx.library(), ctx.options().module_index, &watch);
  const Split split = {"block size 64", "rendering with block size 64, counting allocations in process calls and event deliveries", 64, false};
  ctx.Phase(split.phase);
  std::vector<std::vector<float>> outputs;
  if (!Render(ctx, session, split, ctx.options().seed, &outputs, false,
              [](StandInHost& host) { host.ReserveTrace(1 << 16); })) {
    return;
  }
  if (watch.m_process_allocations + watch.m_event_allocations > 0) {
    return ctx.Fail(std::to_string(watch.m_process_allocations) + " allocation(s) in " +
                    std::to_string(watch.m_process_calls) + " process calls and " +
                    std::to_string(watch.m_event_allocations) + " in " + std::to_string(watch.m_event_calls) +
                    " event deliveries; the first in " + watch.m_first);
  }
  ctx.Note(std::to_string(watch.m_process_calls) + " process calls and " + std::to_string(watch.m_event_calls) +
           " event deliveries, no allocation");
}

}  // namespace

const std::vector<Check>& AudioChecks() {
  static const std::vector<Check> checks = {
      {"audio.block-size-invariance", "the same input and changes give bit-identical output with block size 1, 64 and a random split", CheckBlockSizeInvariance},
      {"audio.finite-output", "finite input, with the controls at their first values, gives finite output", CheckFiniteOutput},
      {"audio.no-allocation", "process calls and event deliveries allocate nothing (where allocations can be counted)", CheckNoAllocation},
  };
  return checks;
}

}  // namespace semhost
