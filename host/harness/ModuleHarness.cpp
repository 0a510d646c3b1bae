#include "ModuleHarness.h"

#include <stdio.h>
#include <string.h>

#include "Automation.h"
#include "Evaluator.h"
#include "ExitCode.h"
#include "InfoVerb.h"
#include "ModuleInfo.h"
#include "ModuleLibrary.h"
#include "RenderCore.h"
#include "Session.h"
#include "Tracer.h"

namespace sehost {

namespace {

using semhost::ModuleInfo;
using semhost::RenderCore;
using semhost::Session;

// The kinds of a queued change.
constexpr int kAt = 0;          // a pin's value from a frame on
constexpr int kAssignment = 1;  // "PIN=VALUE" before the first frame
constexpr int kAutomation = 2;  // automation text

std::string Number(double value) {
  char text[40];
  snprintf(text, sizeof text, "%.17g", value);  // read back as the same double
  return text;
}

HarnessPin Describe(const semhost::PinInfo& pin) {
  HarnessPin described;
  described.index = pin.index;
  described.name = pin.name;
  described.direction = pin.direction;
  described.direction_name = pin.DirectionName();
  described.datatype = pin.datatype;
  described.datatype_name = pin.DatatypeName();
  described.flags = pin.flags;
  described.flag_names = pin.FlagList();
  for (const semhost::Choice& choice : pin.choices) described.choices.push_back({choice.value, choice.text});
  return described;
}

HarnessProperties Describe(const ModuleInfo& info) {
  HarnessProperties properties;
  properties.index = info.index;
  properties.name = info.name;
  properties.id = info.id;
  properties.about = info.about;
  properties.flags = info.flags;
  properties.sdk_version = info.sdk_version;
  for (const semhost::PinInfo& pin : info.pins) properties.pins.push_back(Describe(pin));
  return properties;
}

}  // namespace

// The library and what Load read of the module.
struct ModuleHarness::Loaded {
  std::unique_ptr<ModuleLibrary> library;
  std::string path;
  int32_t index = 0;
  ModuleInfo info;
};

ModuleHarness::ModuleHarness() = default;
ModuleHarness::~ModuleHarness() = default;

bool ModuleHarness::Fail(HarnessError kind, const std::string& message) {
  m_error_kind = kind;
  m_error = message;
  return false;
}

bool ModuleHarness::Succeed() {
  m_error_kind = HarnessError::kNone;
  m_error.clear();
  return true;
}

bool ModuleHarness::loaded() const { return m_loaded != nullptr; }

bool ModuleHarness::Load(const std::string& path, int32_t module_index) {
  m_loaded.reset();
  m_properties = HarnessProperties();
  m_trace.clear();
  std::unique_ptr<Loaded> loaded(new Loaded);
  loaded->library.reset(new ModuleLibrary(path));
  if (!loaded->library->ok()) return Fail(HarnessError::kLoad, loaded->library->error());
  loaded->path = path;
  loaded->index = module_index;
  semhost::Tracer tracer([this](const std::string& line) { m_trace.push_back(line); });
  std::string error;
  {
    Session session(*loaded->library, module_index, m_tracing ? &tracer : nullptr);
    if (!loaded->info.Read(session, &error)) return Fail(HarnessError::kModule, path + ": " + error);
  }
  m_properties = Describe(loaded->info);
  m_loaded = std::move(loaded);
  return Succeed();
}

const HarnessPin* ModuleHarness::FindPin(const std::string& name) const {
  for (const HarnessPin& pin : m_properties.pins) {
    if (pin.name == name) return &pin;
  }
  return nullptr;
}

std::string ModuleHarness::InfoJson() const {
  if (!m_loaded) return "";
  return semhost::InfoVerb::JsonText(m_loaded->path, {m_loaded->info});
}

bool ModuleHarness::OpenAudio(int32_t sample_rate, int32_t block_size) {
  if (sample_rate < 1 || sample_rate > 10000000) {
    return Fail(HarnessError::kArgument, "the sample rate is " + std::to_string(sample_rate) + " Hz; it takes 1 to 10000000");
  }
  if (block_size < 1 || block_size > (1 << 20)) {
    return Fail(HarnessError::kArgument, "the block size is " + std::to_string(block_size) + "; it takes 1 to 1048576");
  }
  m_sample_rate = sample_rate;
  m_block_size = block_size;
  return Succeed();
}

void ModuleHarness::Set(const std::string& pin, const std::string& value) { AddSet(pin + "=" + value); }
void ModuleHarness::Set(const std::string& pin, double value) { Set(pin, Number(value)); }
void ModuleHarness::SetAt(int64_t frame, const std::string& pin, const std::string& value) {
  m_changes.push_back({kAt, frame, pin, value});
}
void ModuleHarness::SetAt(int64_t frame, const std::string& pin, double value) { SetAt(frame, pin, Number(value)); }
void ModuleHarness::AddSet(const std::string& assignment) { m_changes.push_back({kAssignment, 0, assignment, ""}); }
void ModuleHarness::Automate(const std::string& json_text) { m_changes.push_back({kAutomation, 0, json_text, ""}); }
void ModuleHarness::ClearChanges() { m_changes.clear(); }

bool ModuleHarness::Render(const std::vector<std::vector<float>>& inputs, HarnessAudio* outputs, int64_t frames) {
  std::vector<const float*> channels;
  int64_t length = inputs.empty() ? 0 : static_cast<int64_t>(inputs.front().size());
  for (const std::vector<float>& input : inputs) {
    if (static_cast<int64_t>(input.size()) != length) {
      ClearChanges();
      return Fail(HarnessError::kArgument, "the input channels differ in length");
    }
    channels.push_back(input.data());
  }
  return Render(channels.data(), channels.size(), length, frames, outputs);
}

// The queued changes against the pins, in the order given, as semhost render
// resolves --set and automation; automation is named "automation" in messages.
bool ModuleHarness::PlanChanges(RenderCore& core, std::string* error) {
  for (const Change& change : m_changes) {
    if (change.kind == kAssignment && !core.AddSet(change.text, error)) return false;
    if (change.kind == kAutomation) {
      semhost::Automation automation;
      if (!automation.Parse(change.text, "automation", core.sample_rate(), core.total(), error)) return false;
      if (!core.AddAutomation(automation, "automation", error)) return false;
    }
    if (change.kind != kAt) continue;
    const std::string frame = std::to_string(change.frame);
    const std::string where = "frame " + frame + ", pin \"" + change.text + "\"";
    int64_t at = 0;
    if (change.frame < 0 || !semhost::Automation::ParseTime(frame, core.sample_rate(), core.total(), &at, error)) {
      *error = where + ": " + (change.frame < 0 ? "a frame is 0 or more" : *error);
      return false;
    }
    if (!core.AddChange(where, change.text, change.value, at, error)) return false;
  }
  return true;
}

bool ModuleHarness::Render(const float* const* inputs, size_t channels, int64_t input_frames, int64_t frames,
                           HarnessAudio* outputs) {
  m_trace.clear();
  *outputs = HarnessAudio();
  if (!m_loaded) {
    ClearChanges();
    return Fail(HarnessError::kArgument, "no module is loaded");
  }
  const int64_t total = frames >= 0 ? frames : input_frames;
  std::string error;
  if (channels == 0 && frames < 0) error = "no input file to take the length from: give --frames N or --seconds S";
  if (error.empty() && (total < 1 || total > semhost::kMaxRenderFrames)) {
    error = "the render would be " + std::to_string(total) + " frames long; it takes 1 to " +
            std::to_string(semhost::kMaxRenderFrames);
  }
  if (!error.empty()) {
    ClearChanges();
    return Fail(HarnessError::kArgument, error);
  }
  semhost::Tracer tracer([this](const std::string& line) { m_trace.push_back(line); });
  Session session(*m_loaded->library, m_loaded->index, m_tracing ? &tracer : nullptr);
  const bool rendered = RenderPlanned(session, inputs, channels, input_frames, total, outputs);
  ClearChanges();
  return rendered;
}

// One life of the audio half over the inputs: semhost render's steps, with
// arrays for files.
bool ModuleHarness::RenderPlanned(Session& session, const float* const* inputs, size_t channels, int64_t input_frames,
                                  int64_t total, HarnessAudio* outputs) {
  const std::string& path = m_loaded->path;
  ModuleProperties properties = {};
  if (session.GetProperties(m_loaded->index, &properties) == 0) {
    return Fail(HarnessError::kModule, path + " holds no module " + std::to_string(m_loaded->index));
  }
  std::string error;
  if (!session.ReadAudioPins(&error)) return Fail(HarnessError::kModule, path + ": " + error);
  RenderCore core(session, m_sample_rate, m_block_size, total);
  if (!core.PlanPins(channels, &error) || !PlanChanges(core, &error)) return Fail(HarnessError::kArgument, error);
  core.Start([&](AudioEngine& engine) {
    // An empty input has no samples to point into: it streams silence.
    for (size_t i = 0; i < channels; ++i) engine.Stream(i, input_frames > 0 ? inputs[i] : nullptr, input_frames);
  });
  HarnessAudio& out = *outputs;
  out.channels = static_cast<int32_t>(core.output_count());
  out.frames = total;
  out.samples.assign(static_cast<size_t>(out.channels) * static_cast<size_t>(total), 0.0f);
  // One span: every output a channel after the other, straight into the result.
  const sehost::OutputLayout layout{out.samples.data(), 1, static_cast<size_t>(total)};
  const auto begin = [&](int64_t) { return layout; };
  const auto end = [](int64_t, int64_t, std::string*) { return true; };
  if (core.RenderSpans(total, begin, end, &error) != semhost::kExitOk) {
    *outputs = HarnessAudio();
    return Fail(HarnessError::kModule, error);
  }
  session.Stop();
  return Succeed();
}

bool ModuleHarness::Eval(const std::vector<std::string>& sets, const std::vector<std::string>& gets,
                         std::vector<std::pair<std::string, std::string>>* values) {
  m_trace.clear();
  values->clear();
  if (!m_loaded) return Fail(HarnessError::kArgument, "no module is loaded");
  semhost::Tracer tracer([this](const std::string& line) { m_trace.push_back(line); });
  Session session(*m_loaded->library, m_loaded->index, m_tracing ? &tracer : nullptr);
  std::string error;
  if (!session.Start(&error)) return Fail(HarnessError::kModule, m_loaded->path + ": " + error);
  ModuleInfo info;
  info.index = m_loaded->index;
  for (size_t i = 0; i < session.pins().size(); ++i) {
    info.pins.push_back(semhost::DescribePin(static_cast<int32_t>(i), session.pins()[i]));
  }
  semhost::Evaluator evaluator(session, info);
  for (const std::string& set : sets) {
    if (!evaluator.AddSet(set, &error)) return Fail(HarnessError::kArgument, error);
  }
  for (const std::string& get : gets) {
    if (!evaluator.AddGet(get, &error)) return Fail(HarnessError::kArgument, error);
  }
  if (evaluator.Outputs().empty()) {
    return Fail(HarnessError::kArgument, "the module has no output pin to show; name pins with --get");
  }
  evaluator.ApplySets();
  *values = evaluator.Values();
  session.Stop();  // the close opcodes end the trace
  return Succeed();
}

}  // namespace sehost
