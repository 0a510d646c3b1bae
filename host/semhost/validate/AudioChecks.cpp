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
#include <memory>

#include "AudioEngine.h"
#include "CheckTools.h"
#include "CrashReporter.h"
#include "FloatBits.h"
#include "HeapMeter.h"
#include "Parallel.h"
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
  float sample_rate = kSampleRate;
  std::vector<std::pair<int32_t, uint32_t>> at_start = {};  // (declaration, value) set at frame 0
};

// A render set up on an open audio half: its engine and its input.
struct Rendering {
  std::unique_ptr<AudioEngine> engine;
  Scenario scenario;
};

// Opens the session's audio half for `split` with the scenario of `seed`;
// false with the check failed, or skipped when the module has no sample
// output and `need_outputs`. `prepare` runs after the audio half is open.
bool Begin(CheckContext& ctx, Session& session, const Split& split, uint64_t seed, Rendering* rendering,
           bool need_outputs = true, const std::function<void(StandInHost&)>& prepare = nullptr) {
  std::string error;
  if (!session.ReadAudioPins(&error)) {
    ctx.Fail(error);
    return false;
  }
  StandInHost& host = session.host();
  rendering->engine.reset(new AudioEngine(host, session.pins(), Repeats(session.pins())));
  AudioEngine& engine = *rendering->engine;
  if (need_outputs && engine.sample_outputs().empty()) {
    ctx.Skip("the module declares no sample output (DT_FSAMPLE) to render");
    return false;
  }
  rendering->scenario = MakeScenario(Describe(session.pins()), engine, seed);
  const Scenario& scenario = rendering->scenario;
  session.OpenAudio(split.sample_rate, split.block_size, &engine);
  for (size_t i = 0; i < scenario.streams.size(); ++i) {
    engine.Stream(i, scenario.streams[i].data(), static_cast<int64_t>(scenario.streams[i].size()));
  }
  for (const auto& change : split.at_start) engine.ScheduleChange(change.first, change.second, 0, &error);
  for (const Scenario::Step& step : split.changes ? scenario.steps : std::vector<Scenario::Step>()) {
    engine.ScheduleChange(step.declaration, step.bits, step.frame, &error);
  }
  if (prepare) prepare(host);
  return true;
}

// Processes the whole render into `outputs`, one vector per sample output.
// Touches nothing but the session's host and engine (and the crash reporter
// when `report_steps`), so renders of separate sessions may run on threads
// of their own.
void RunBlocks(Session& session, Rendering& rendering, const Split& split, uint64_t seed,
               std::vector<std::vector<float>>* outputs, bool report_steps = true) {
  AudioEngine& engine = *rendering.engine;
  outputs->assign(engine.sample_outputs().size(), std::vector<float>());
  SeededRandom lengths(seed ^ 0x5EEDu);
  for (int64_t done = 0, block = 0; done < kRenderFrames && session.host().audio(); ++block) {
    int32_t frames = static_cast<int32_t>(std::min<int64_t>(split.block_size, kRenderFrames - done));
    if (split.random) frames = std::min(frames, lengths.Between(1, split.block_size));
    if (report_steps) CrashReporter::SetStep(block);
    engine.Process(frames);
    for (size_t o = 0; o < outputs->size(); ++o) {
      (*outputs)[o].insert((*outputs)[o].end(), engine.Output(o), engine.Output(o) + frames);
    }
    done += frames;
  }
}

// Renders the scenario on a fresh instance into `outputs`; false with the
// check failed or skipped (see Begin).
bool Render(CheckContext& ctx, Session& session, const Split& split, uint64_t seed,
            std::vector<std::vector<float>>* result, bool need_outputs = true,
            const std::function<void(StandInHost&)>& prepare = nullptr) {
  Rendering rendering;
  if (!Begin(ctx, session, split, seed, &rendering, need_outputs, prepare)) return false;
  RunBlocks(session, rendering, split, seed, result);
  return ctx.verdict() == Verdict::kPass || ctx.verdict() == Verdict::kWarn;
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

// The first frame where `outputs` differ from `reference`, as a failure; true when none does.
bool SameAs(CheckContext& ctx, const Session& session, const std::vector<std::vector<float>>& reference,
            const std::vector<std::vector<float>>& outputs, const std::string& how, const std::string& against) {
  for (size_t o = 0; o < outputs.size() && o < reference.size(); ++o) {
    for (size_t f = 0; f < outputs[o].size() && f < reference[o].size(); ++f) {
      if (setest::FloatBits(outputs[o][f]) != setest::FloatBits(reference[o][f])) {
        ctx.Fail(OutputName(session, o) + " at frame " + std::to_string(f) + " is " + FormatFloat(outputs[o][f]) +
                 " " + how + " but " + FormatFloat(reference[o][f]) + " " + against);
        return false;
      }
    }
  }
  return true;
}

void CheckBlockSizeInvariance(CheckContext& ctx) {
  const uint64_t seed = ctx.options().seed;
  const Split splits[] = {{"block size 1", "rendering with block size 1", 1, false},
                          {"block size 16", "rendering with block size 16", 16, false},
                          {"block size 64", "rendering with block size 64", 64, false},
                          {"block size 512", "rendering with block size 512", 512, false},
                          {"block size 4096", "rendering with block size 4096", 4096, false},
                          {"a random split (runs of 1 to 64)", "rendering with a random split of blocks of 64", 64, true}};
  size_t outputs_seen = 0;
  for (const float rate : {44100.0f, 48000.0f, 96000.0f}) {
    const std::string at = " at " + FormatFloat(rate) + " Hz";
    std::vector<std::vector<float>> reference;
    for (Split split : splits) {
      split.sample_rate = rate;
      ctx.Phase(split.phase);
      auto session = ctx.NewSession();
      std::vector<std::vector<float>> outputs;
      if (!Render(ctx, *session, split, seed, &outputs)) return;
      if (reference.empty()) {
        reference = outputs;
        outputs_seen = outputs.size();
      } else if (!SameAs(ctx, *session, reference, outputs, "with " + std::string(split.name) + at, "with block size 1")) {
        return;
      }
    }
  }
  ctx.Note(std::to_string(outputs_seen) + " output(s) over " + std::to_string(kRenderFrames) +
           " frames at 44100, 48000 and 96000 Hz, bit-identical with block size 1, 16, 64, 512, 4096 and a random "
           "split (seed " + std::to_string(seed) + ")");
}

bool AllSilent(const std::vector<std::vector<float>>& outputs) {
  for (const auto& output : outputs) {
    for (float sample : output) {
      if (sample != 0.0f) return false;
    }
  }
  return true;
}

// Renders with `changes` set at frame 0; true when every output is silent.
bool SilentWith(CheckContext& ctx, const std::vector<std::pair<int32_t, uint32_t>>& changes) {
  Split split = {"block size 64", "rendering with an enumerated control at each choice", 64, false, false};
  split.at_start = changes;
  auto session = ctx.NewSession();
  std::vector<std::vector<float>> outputs;
  return Render(ctx, *session, split, ctx.options().seed, &outputs) && AllSilent(outputs);
}

// An enumerated control read as a position in its list, where a host writes
// the choice's value: silent at every value, not at some position. "" when not.
std::string ReadAsIndex(CheckContext& ctx, const std::vector<PinInfo>& pins) {
  for (const PinInfo* pin : SettableInputs(pins)) {
    if (!pin->IsEnum() || pin->choices.empty()) continue;
    bool explicit_values = false, silent_at_values = true;
    std::vector<std::string> values;
    for (size_t k = 0; k < pin->choices.size() && k < 16; ++k) {
      explicit_values = explicit_values || pin->choices[k].value != static_cast<int32_t>(k);
      values.push_back(pin->choices[k].text + "=" + std::to_string(pin->choices[k].value));
      silent_at_values = silent_at_values && SilentWith(ctx, {{pin->index, static_cast<uint32_t>(pin->choices[k].value)}});
    }
    if (!explicit_values || !silent_at_values) continue;
    for (size_t k = 0; k < pin->choices.size() && k < 16; ++k) {
      if (SilentWith(ctx, {{pin->index, static_cast<uint32_t>(k)}})) continue;
      return "every output is silence with \"" + pin->name + "\" at each choice's value (" + Join(values, ", ") +
             "), and not at " + std::to_string(k) + ", the position of \"" + pin->choices[k].text +
             "\": the audio half reads \"" + pin->name + "\" as an index into its list, but a host writes the " +
             "choice's value; compare with the values (it_enum_list reads them) or drop the explicit values";
    }
  }
  return "";
}

void CheckSilentOutput(CheckContext& ctx) {
  const Split split = {"block size 64", "rendering with the controls at their first values", 64, false, false};
  ctx.Phase(split.phase);
  auto session = ctx.NewSession();
  std::vector<std::vector<float>> outputs;
  if (!Render(ctx, *session, split, ctx.options().seed, &outputs)) return;
  std::vector<std::string> names;
  for (size_t o = 0; o < outputs.size(); ++o) names.push_back(OutputName(*session, o));
  AudioEngine engine(session->host(), session->pins(), 1);
  if (engine.sample_inputs().empty()) return ctx.Skip("the module has no sample input: its silence may be its meaning");
  if (!AllSilent(outputs)) return ctx.Note(Join(names, ", ") + ": signal out for signal in");
  const std::string as_index = ReadAsIndex(ctx, Describe(session->pins()));
  if (!as_index.empty()) return ctx.Fail(as_index);
  ctx.Warn("every output (" + Join(names, ", ") + ") is silence over " + std::to_string(kRenderFrames) +
           " frames while every sample input carries signal: a module that counts its channels or reads its pins "
           "before it calls the base Open (m_pin_count is 0 until then) has nothing to process");
}

// Instances rendered at the same time, each on a thread of its own, give
// exactly what each gives alone: state shared between instances shows.
void CheckThreads(CheckContext& ctx) {
  constexpr int kInstances = 4;
  const Split split = {"block size 64", "rendering instances one after the other", 64, false};
  std::vector<std::vector<std::vector<float>>> alone(kInstances);
  for (int i = 0; i < kInstances; ++i) {
    ctx.Phase(split.phase);
    auto session = ctx.NewSession();
    if (!Render(ctx, *session, split, ctx.options().seed + static_cast<uint64_t>(i), &alone[static_cast<size_t>(i)])) return;
  }
  ctx.Phase("rendering instances at the same time, one thread each");
  std::vector<std::unique_ptr<Session>> sessions;
  std::vector<Rendering> renderings(kInstances);
  for (int i = 0; i < kInstances; ++i) {
    sessions.emplace_back(new Session(ctx.library(), ctx.options().module_index));  // unobserved: threads share no observer
    if (!Begin(ctx, *sessions.back(), split, ctx.options().seed + static_cast<uint64_t>(i), &renderings[static_cast<size_t>(i)])) return;
  }
  std::vector<std::vector<std::vector<float>>> together(kInstances);
  ForEachInParallel(kInstances, kInstances, [&](size_t i) {
    RunBlocks(*sessions[i], renderings[i], split, ctx.options().seed + i, &together[i], false);
  });
  for (size_t i = 0; i < kInstances; ++i) {
    if (!SameAs(ctx, *sessions[i], alone[i], together[i], "for instance " + std::to_string(i + 1) + " of " +
                std::to_string(kInstances) + " processed at the same time on threads of their own", "alone")) {
      return ctx.Fail("the instances share state (a static or global the process function keeps): keep every "
                      "instance's state in its own members");
    }
  }
  ctx.Note(std::to_string(kInstances) + " instances on " + std::to_string(kInstances) +
           " threads at once, each bit-identical to its render alone");
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
      {"audio.block-size-invariance", "the same input and changes give bit-identical output at 44100, 48000 and 96000 Hz with block size 1, 16, 64, 512, 4096 and a random split", CheckBlockSizeInvariance},
      {"audio.silent-output", "signal in gives some signal out; an enumerated control is read by its choices' values", CheckSilentOutput},
      {"audio.threads", "instances processed at the same time on threads of their own give what each gives alone", CheckThreads},
      {"audio.finite-output", "finite input, with the controls at their first values, gives finite output", CheckFiniteOutput},
      {"audio.no-allocation", "process calls and event deliveries allocate nothing (where allocations can be counted)", CheckNoAllocation},
  };
  return checks;
}

}  // namespace semhost
