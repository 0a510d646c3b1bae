#include "RenderCore.h"

#include <algorithm>

#include "Automation.h"
#include "CrashReporter.h"
#include "ExitCode.h"
#include "Session.h"

namespace semhost {

namespace {

using sehost::AudioEngine;
using sehost::OutputLayout;

// How many copies the repeating group stands for: enough for the input
// channels left when it holds sample inputs (a last copy may be fed only in
// part), one per input channel when it holds only sample outputs, at least
// one; 1 for any other group.
int32_t Repeats(const std::vector<SEPinProperties>& pins, size_t channels) {
  const int32_t repeating = AudioEngine::RepeatingDeclaration(pins);
  if (repeating < 0) return 1;
  size_t before = 0, inputs = 0, outputs = 0;
  for (size_t i = 0; i < pins.size(); ++i) {
    const SEPinProperties& p = pins[i];
    if (!SEPinHasAudioSide(p) || p.datatype != DT_FSAMPLE) continue;
    if (p.direction == DR_IN) (static_cast<int32_t>(i) < repeating ? before : inputs) += 1;
    if (p.direction == DR_OUT && static_cast<int32_t>(i) >= repeating) outputs += 1;
  }
  if (inputs > 0) {
    const size_t left = channels > before ? channels - before : 0;
    return static_cast<int32_t>(std::max<size_t>((left + inputs - 1) / inputs, 1));
  }
  if (outputs > 0) return static_cast<int32_t>(std::max<size_t>(channels, 1));
  return 1;
}

}  // namespace

RenderCore::RenderCore(Session& session, int32_t sample_rate, int32_t block_size, int64_t total)
    : m_session(session), m_rate(sample_rate), m_block_size(block_size), m_total(total) {}

bool RenderCore::PlanPins(size_t channels, std::string* error) {
  const std::vector<SEPinProperties>& pins = m_session.pins();
  m_info.index = m_session.module_index();
  for (size_t i = 0; i < pins.size(); ++i) m_info.pins.push_back(DescribePin(static_cast<int32_t>(i), pins[i]));
  m_engine.reset(new AudioEngine(m_session.host(), pins, Repeats(pins, channels)));
  const AudioEngine& engine = *m_engine;
  if (channels > engine.sample_inputs().size()) {
    std::string names;
    for (int32_t index : engine.sample_inputs()) {
      const PinInfo& pin = m_info.pins[static_cast<size_t>(engine.pins()[static_cast<size_t>(index)].declaration)];
      names += (names.empty() ? "\"" : ", \"") + pin.name + "\"";
    }
    *error = "the input files give " + std::to_string(channels) + " channel(s); the module takes " +
             std::to_string(engine.sample_inputs().size()) +
             (names.empty() ? " (it has no sample input)" : " (" + names + ")");
    return false;
  }
  if (engine.sample_outputs().empty()) {
    *error = "the module has no sample output (DT_FSAMPLE) to render";
    return false;
  }
  return true;
}

bool RenderCore::AddChange(const std::string& where, const std::string& key, const std::string& value, int64_t frame,
                           std::string* error) {
  const PinInfo* pin = m_info.FindPin(key, error);
  if (!pin) {
    *error = where + ": " + *error;
    return false;
  }
  std::string why;
  if (!m_engine->CanSet(pin->index, &why)) {
    *error = where + ": pin \"" + pin->name + "\" cannot be set by a host: " + why;
    return false;
  }
  uint32_t bits = 0;
  if (!m_info.ParseValue(*pin, value, &bits, error)) {
    *error = where + ": " + *error;
    return false;
  }
  m_changes.push_back({pin, bits, frame, ""});
  return true;
}

bool RenderCore::AddSet(const std::string& assignment, std::string* error) {
  const size_t equals = assignment.find('=');
  if (equals == std::string::npos) {
    *error = "--set expects PIN=VALUE, got '" + assignment + "'";
    return false;
  }
  return AddChange("--set " + assignment, assignment.substr(0, equals), assignment.substr(equals + 1), 0, error);
}

bool RenderCore::AddAutomation(const Automation& automation, const std::string& source, std::string* error) {
  for (const AutomationStep& step : automation.steps()) {
    const std::string where = source + ": pin \"" + step.pin + "\", time '" + step.time + "'";
    if (!AddChange(where, step.pin, step.text, step.frame, error)) return false;
    m_changes.back().mark = m_changes.back().pin->name + " = " + step.text;
  }
  return true;
}

void RenderCore::Start(const std::function<void(AudioEngine&)>& stream) {
  Session& session = m_session;
  CrashReporter::SetPhase("opening the audio half");
  for (const RenderChange& change : m_changes) {
    if (change.frame == 0) session.SetPin(change.pin->index, change.bits);  // what a GUI half reads when made
  }
  session.OpenAudio(static_cast<float>(m_rate), m_block_size, m_engine.get());
  CrashReporter::SetPhase("making the GUI half");
  const bool has_gui = session.CreateGui() != nullptr;  // a module may make none
  // The streams' events come before the changes' at one clock, as scheduled.
  if (stream) stream(*m_engine);
  std::string error;
  for (const RenderChange& change : m_changes) {
    // A pin the GUI half shares is also told, as a host tells it of any change.
    std::function<void()> also;
    if (has_gui && (change.pin->flags & IO_UI_COMMUNICATION)) {
      also = [&session, change] { session.Change(change.pin->index, change.bits); };
    }
    m_engine->ScheduleChange(change.pin->index, change.bits, static_cast<uint32_t>(change.frame), &error, also);
  }
}

int RenderCore::RenderSpans(int64_t span, const std::function<OutputLayout(int64_t)>& begin,
                            const std::function<bool(int64_t, int64_t, std::string*)>& end, std::string* error) {
  CrashReporter::SetPhase("rendering");
  span = std::max<int64_t>(span, m_block_size);
  for (int64_t first = 0; first < m_total; first += span) {
    const int64_t last = std::min(first + span, m_total);
    if (!RenderSpan(first, last, begin(first))) {
      *error = "the audio half is gone (" + m_session.host().last_refusal() + ")";
      return kExitFailed;
    }
    if (!end(first, last - first, error)) return kExitUsage;
  }
  return kExitOk;
}

bool RenderCore::RenderSpan(int64_t first, int64_t last, const OutputLayout& out) {
  AudioEngine& engine = *m_engine;
  for (int64_t at = first; at < last;) {
    const int32_t frames = static_cast<int32_t>(std::min<int64_t>(m_block_size, last - at));
    // Blocks start at whole multiples of the block size; in a quiet run the
    // crash reporter counts on from its first block.
    CrashReporter::SetStep(at / m_block_size, "block");
    CrashReporter::SetClock(at);
    int64_t ran = engine.ProcessQuiet(frames, (last - at) / frames, out.From(at - first));
    if (ran == 0) {  // a block with something due
      engine.Process(frames);
      engine.CopyOutputs(out.From(at - first), frames);
      ran = 1;
    }
    at += ran * frames;
    if (!m_session.host().audio()) return false;
  }
  return true;
}

std::vector<std::string> RenderCore::OutputNames() const {
  std::vector<std::string> names;
  for (int32_t index : m_engine->sample_outputs()) {
    names.push_back(m_info.pins[static_cast<size_t>(m_engine->pins()[static_cast<size_t>(index)].declaration)].name);
  }
  return names;
}

}  // namespace semhost
