#include "RenderVerb.h"

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "AudioEngine.h"
#include "AudioWriter.h"
#include "Automation.h"
#include "InputStreams.h"
#include "CrashReporter.h"
#include "ExitCode.h"
#include "ModuleInfo.h"
#include "LoadModule.h"
#include "ModuleLibrary.h"
#include "OutputRedirect.h"
#include "Progress.h"
#include "RenderPlot.h"
#include "Session.h"
#include "Text.h"
#include "Tracer.h"

namespace semhost {

namespace {

using sehost::AudioEngine;
using sehost::Entry;
using sehost::StandInHost;
using sehost::TraceEntry;

constexpr int64_t kMaxFrames = 4294967295LL;  // the sample clock is 32 bits
constexpr int32_t kChunk = 4096;  // frames read or written at a time, at least

int Usage(const std::string& message) {
  fprintf(stderr, "semhost: render: %s\n", message.c_str());
  return kExitUsage;
}

// The trace of a render, bounded: after `limit` lines one closing line says
// it stopped, and the render goes on untraced.
class BoundedTrace {
 public:
  bool Open(const RenderArgs& args, std::string* error) {
    if (!args.trace && args.trace_file.empty()) return true;
    m_out = stdout;
    if (!args.trace_file.empty()) {
      m_file = fopen(OutputPath(args.trace_file).c_str(), "w");
      if (!m_file) {
        *error = "cannot write the trace to " + args.trace_file;
        return false;
      }
      m_out = m_file;
    }
    m_limit = args.trace_lines;
    m_tracer.reset(new Tracer([this](const std::string& line) { Write(line); }));
    return true;
  }
  ~BoundedTrace() {
    if (m_file) fclose(m_file);
  }
  Tracer* tracer() { return m_written <= m_limit ? m_tracer.get() : nullptr; }  // until the closing line

 private:
  void Write(const std::string& line) {
    if (m_written > m_limit) return;
    if (m_written++ == m_limit) {
      fprintf(m_out, "… the trace stops after %lld lines (--trace-lines); the render goes on\n", static_cast<long long>(m_limit));
      return;
    }
    fputs(line.c_str(), m_out);
    fputc('\n', m_out);
  }
  FILE* m_file = nullptr;
  FILE* m_out = nullptr;
  int64_t m_limit = 0;
  int64_t m_written = 0;
  std::unique_ptr<Tracer> m_tracer;
};

// Follows every call of the render: the crash reporter first (it keeps the
// call a crash interrupts, and the clock), then the bounded trace.
class RenderObserver : public CallObserver {
 public:
  explicit RenderObserver(BoundedTrace& trace) : m_trace(trace) {}
  void CallStarted(const TraceEntry& entry, const StandInHost& host) override {
    if (entry.entry == Entry::kProcess || entry.entry == Entry::kEvent) CrashReporter::SetClock(host.schedule().sample_clock());
    m_crash.CallStarted(entry, host);
    if (Tracer* tracer = m_trace.tracer()) tracer->CallStarted(entry, host);
  }
  void CallReturned(const TraceEntry& entry, const StandInHost& host) override {
    m_crash.CallReturned(entry, host);
    if (Tracer* tracer = m_trace.tracer()) tracer->CallReturned(entry, host);
  }
  void LibraryCallStarted(const std::string& call) override {
    m_crash.LibraryCallStarted(call);
    if (Tracer* tracer = m_trace.tracer()) tracer->LibraryCallStarted(call);
  }
  void LibraryCallReturned(const std::string& answer) override {
    m_crash.LibraryCallReturned(answer);
    if (Tracer* tracer = m_trace.tracer()) tracer->LibraryCallReturned(answer);
  }

 private:
  CrashReporter m_crash;
  BoundedTrace& m_trace;
};

// A pin and value given on the command line or in the automation, resolved.
struct Change {
  const PinInfo* pin;
  uint32_t bits;
  int64_t frame;
  std::string mark;  // an automation step's "PIN = VALUE" for the chart; "" for --set
};

bool Resolve(const ModuleInfo& info, const AudioEngine& engine, const std::string& where, const std::string& key,
             const std::string& value, int64_t frame, std::vector<Change>* changes, std::string* error) {
  const PinInfo* pin = info.FindPin(key, error);
  if (!pin) {
    *error = where + ": " + *error;
    return false;
  }
  std::string why;
  if (!engine.CanSet(pin->index, &why)) {
    *error = where + ": pin \"" + pin->name + "\" cannot be set by a host: " + why;
    return false;
  }
  uint32_t bits = 0;
  if (!info.ParseValue(*pin, value, &bits, error)) {
    *error = where + ": " + *error;
    return false;
  }
  changes->push_back({pin, bits, frame, ""});
  return true;
}

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

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// One render, step by step: the files (before the module is loaded), the
// module's pins and everything that needs them, the blocks, the outputs.
// Members are declared so that the engine goes before the session, the
// session before the library, and the observer before the trace it writes.
class RenderRun {
 public:
  explicit RenderRun(const RenderArgs& args) : m_args(args) {}
  int Run();

 private:
  bool PlanFiles(std::string* error);
  bool PlanLength(std::string* error);
  int LoadModule();
  bool PlanPins(std::string* error);
  bool PlanChanges(std::string* error);
  void Start();
  int RenderBlocks();
  int Commit();
  void Interleave(float* to, int32_t frames);

  const RenderArgs& m_args;
  SampleFormat m_format = SampleFormat::kDefault;
  InputStreams m_inputs;
  int32_t m_rate = 48000;
  int64_t m_total = 0;
  BoundedTrace m_trace;
  std::unique_ptr<RenderObserver> m_observer;
  std::unique_ptr<sehost::ModuleLibrary> m_library;
  std::unique_ptr<Session> m_session;
  ModuleProperties m_properties = {};
  ModuleInfo m_info;
  std::unique_ptr<AudioEngine> m_engine;
  std::vector<Change> m_changes;
  AudioWriter m_writer;
  int32_t m_channels = 0;
  std::unique_ptr<RenderPlot> m_plot;
};

// The command line and the files, before the module is loaded.
bool RenderRun::PlanFiles(std::string* error) {
  if (!m_args.format.empty() && !ParseSampleFormat(m_args.format, &m_format, error)) return false;
  if (!m_args.svg.empty() && access(Folder(OutputPath(m_args.svg)).c_str(), W_OK) != 0) {
    *error = "cannot write the chart " + m_args.svg + ": its folder is missing or not writable";
    return false;
  }
  if (!m_inputs.Open(m_args.inputs, error)) return false;
  if (m_args.sample_rate > 0 && m_inputs.sample_rate() > 0 && m_args.sample_rate != m_inputs.sample_rate()) {
    *error = "--sample-rate " + std::to_string(m_args.sample_rate) + " differs from the inputs' rate, " +
             std::to_string(m_inputs.sample_rate()) + " Hz (semhost does not resample)";
    return false;
  }
  m_rate = m_inputs.sample_rate() > 0 ? m_inputs.sample_rate() : m_args.sample_rate > 0 ? m_args.sample_rate : 48000;
  return PlanLength(error);
}

bool RenderRun::PlanLength(std::string* error) {
  m_total = m_args.frames >= 0 ? m_args.frames : m_inputs.frames();
  if (!m_args.seconds.empty()) {
    std::string seconds = m_args.seconds;  // "1.5" or "1.5s"
    if (seconds.back() == 's') seconds.pop_back();
    if (!Automation::ParseTime(seconds + "s", m_rate, kMaxFrames, &m_total, error)) {
      *error = error->find("past the end") != std::string::npos
                   ? "--seconds " + m_args.seconds + " is longer than a render can be (" + std::to_string(kMaxFrames) +
                         " frames)"
                   : "--seconds expects a decimal number of seconds, such as 1.5; got '" + m_args.seconds + "'";
      return false;
    }
  }
  if (m_args.inputs.empty() && m_args.frames < 0 && m_args.seconds.empty()) {
    *error = "no input file to take the length from: give --frames N or --seconds S";
    return false;
  }
  if (m_total < 1 || m_total > kMaxFrames) {
    *error = "the render would be " + std::to_string(m_total) + " frames long; it takes 1 to " + std::to_string(kMaxFrames);
    return false;
  }
  return true;
}

// The library, the module and its pins; -1 when all is there, else the exit code.
int RenderRun::LoadModule() {
  int exit_code = kExitOk;
  m_library = semhost::LoadModule(m_args.module, &exit_code);
  if (!m_library) return exit_code;
  m_observer.reset(new RenderObserver(m_trace));
  m_session.reset(new Session(*m_library, m_args.module_index, m_observer.get()));
  std::string error;
  if (m_session->GetProperties(m_args.module_index, &m_properties) == 0) {
    fprintf(stderr, "semhost: %s holds no module %d\n", m_args.module.c_str(), static_cast<int>(m_args.module_index));
    return kExitFailed;
  }
  if (!m_session->ReadAudioPins(&error)) {
    fprintf(stderr, "semhost: %s: %s\n", m_args.module.c_str(), error.c_str());
    return kExitFailed;
  }
  return -1;
}

// The engine's layout of the pins against the inputs, and the output file.
bool RenderRun::PlanPins(std::string* error) {
  const std::vector<SEPinProperties>& pins = m_session->pins();
  m_info.index = m_args.module_index;
  for (size_t i = 0; i < pins.size(); ++i) m_info.pins.push_back(DescribePin(static_cast<int32_t>(i), pins[i]));
  m_engine.reset(new AudioEngine(m_session->host(), pins, Repeats(pins, m_inputs.channel_count())));
  const AudioEngine& engine = *m_engine;
  if (m_inputs.channel_count() > engine.sample_inputs().size()) {
    std::string names;
    for (int32_t index : engine.sample_inputs()) {
      const PinInfo& pin = m_info.pins[static_cast<size_t>(engine.pins()[static_cast<size_t>(index)].declaration)];
      names += (names.empty() ? "\"" : ", \"") + pin.name + "\"";
    }
    *error = "the input files give " + std::to_string(m_inputs.channel_count()) + " channel(s); the module takes " +
             std::to_string(engine.sample_inputs().size()) +
             (names.empty() ? " (it has no sample input)" : " (" + names + ")");
    return false;
  }
  if (engine.sample_outputs().empty()) {
    *error = "the module has no sample output (DT_FSAMPLE) to render";
    return false;
  }
  if (!PlanChanges(error)) return false;
  m_channels = static_cast<int32_t>(engine.sample_outputs().size());
  return m_writer.Open(m_args.out, m_channels, m_rate, m_format, error, m_total);
}

// Every --set and automation step, resolved against the pins.
bool RenderRun::PlanChanges(std::string* error) {
  for (const std::string& set : m_args.sets) {
    const size_t equals = set.find('=');
    if (equals == std::string::npos) {
      *error = "--set expects PIN=VALUE, got '" + set + "'";
      return false;
    }
    if (!Resolve(m_info, *m_engine, "--set " + set, set.substr(0, equals), set.substr(equals + 1), 0, &m_changes, error)) {
      return false;
    }
  }
  if (m_args.automate.empty()) return true;
  Automation automation;
  if (!automation.Read(m_args.automate, m_rate, m_total, error)) return false;
  for (const AutomationStep& step : automation.steps()) {
    const std::string where = m_args.automate + ": pin \"" + step.pin + "\", time '" + step.time + "'";
    if (!Resolve(m_info, *m_engine, where, step.pin, step.text, step.frame, &m_changes, error)) return false;
    m_changes.back().mark = m_changes.back().pin->name + " = " + step.text;
  }
  return true;
}

// Opens the halves, streams the inputs and schedules the changes.
void RenderRun::Start() {
  Session& session = *m_session;
  CrashReporter::SetPhase("opening the audio half");
  for (const Change& change : m_changes) {
    if (change.frame == 0) session.SetPin(change.pin->index, change.bits);  // what a GUI half reads when made
  }
  session.OpenAudio(static_cast<float>(m_rate), m_args.block_size, m_engine.get());
  CrashReporter::SetPhase("making the GUI half");
  const bool has_gui = session.CreateGui() != nullptr;  // a module may make none
  // The streams' events come before the changes' at one clock, as scheduled.
  m_plot.reset(new RenderPlot(m_rate, m_total));
  // Chunks of inputs as long as the output's, so reading costs as few calls as writing.
  m_inputs.Start(m_args.block_size, kChunk, m_engine.get(), m_args.svg.empty() ? nullptr : m_plot.get());
  std::string error;
  for (const Change& change : m_changes) {
    // A pin the GUI half shares is also told, as a host tells it of any change.
    std::function<void()> also;
    if (has_gui && (change.pin->flags & IO_UI_COMMUNICATION)) {
      also = [&session, change] { session.Change(change.pin->index, change.bits); };
    }
    m_engine->ScheduleChange(change.pin->index, change.bits, static_cast<uint32_t>(change.frame), &error, also);
    if (!change.mark.empty()) m_plot->AddMark(change.frame, change.mark);
  }
}

// Every block, gathered into chunks of at least kChunk frames before
// they are written: small blocks would otherwise cost a write per block.
int RenderRun::RenderBlocks() {
  const int32_t chunk_frames = std::max(kChunk, m_args.block_size);
  std::vector<float> interleaved(static_cast<size_t>(chunk_frames) * static_cast<size_t>(m_channels));
  int32_t pending = 0;  // frames gathered in `interleaved`
  std::string error;
  const auto flush = [&]() {
    const bool ok = pending == 0 || m_writer.Write(interleaved.data(), pending, &error);
    pending = 0;
    return ok;
  };
  Progress progress("render", isatty(fileno(stderr)) && m_total >= m_rate);
  CrashReporter::SetPhase("rendering");
  int64_t done = 0;
  for (long long block = 0; done < m_total; ++block) {
    const int32_t frames = static_cast<int32_t>(std::min<int64_t>(m_args.block_size, m_total - done));
    CrashReporter::SetStep(block, "block");
    CrashReporter::SetClock(done);
    m_inputs.Advance(done);
    m_engine->Process(frames);
    if (!m_session->host().audio()) {
      fprintf(stderr, "semhost: render: the audio half is gone (%s)\n", m_session->host().last_refusal().c_str());
      return kExitFailed;
    }
    if (pending + frames > chunk_frames && !flush()) return Usage(error);
    Interleave(interleaved.data() + static_cast<size_t>(pending) * static_cast<size_t>(m_channels), frames);
    pending += frames;
    done += frames;
    if (progress.shown()) {
      char text[64];
      snprintf(text, sizeof text, "%.1f of %.1f s", static_cast<double>(done) / m_rate, static_cast<double>(m_total) / m_rate);
      progress.Update(done, m_total, text);
    }
  }
  if (!flush()) return Usage(error);
  return m_inputs.Finish(&error) ? kExitOk : Usage(error);
}

// Puts the block's outputs into the chunk, frame by frame; stereo in one
// pass the compiler vectorises.
void RenderRun::Interleave(float* to, int32_t frames) {
  if (m_channels == 2) {
    const float* left = m_engine->Output(0);
    const float* right = m_engine->Output(1);
    for (int32_t f = 0; f < frames; ++f) {
      to[2 * f] = left[f];
      to[2 * f + 1] = right[f];
    }
  } else {
    for (int32_t c = 0; c < m_channels; ++c) {
      const float* samples = m_engine->Output(static_cast<size_t>(c));
      for (int32_t f = 0; f < frames; ++f) to[static_cast<size_t>(f * m_channels + c)] = samples[f];
    }
  }
  if (m_args.svg.empty()) return;
  for (int32_t c = 0; c < m_channels; ++c) m_plot->AddOutput(static_cast<size_t>(c), m_engine->Output(static_cast<size_t>(c)), frames);
}

// Closes the module and puts the outputs in place.
int RenderRun::Commit() {
  CrashReporter::SetPhase("closing the module");
  m_session->Stop();
  std::string error;
  if (!m_writer.Commit(&error)) return Usage(error);
  printf("wrote %s: %d channel(s), %lld frames at %d Hz, %lld block(s) of up to %d frames\n", m_args.out.c_str(),
         static_cast<int>(m_channels), static_cast<long long>(m_total), static_cast<int>(m_rate),
         static_cast<long long>((m_total + m_args.block_size - 1) / m_args.block_size), static_cast<int>(m_args.block_size));
  if (m_args.svg.empty()) return kExitOk;
  std::vector<std::string> names;
  // The pin's name; the lane says the channel, so a repeated pin needs no number of its own.
  for (int32_t index : m_engine->sample_outputs()) {
    names.push_back(m_info.pins[static_cast<size_t>(m_engine->pins()[static_cast<size_t>(index)].declaration)].name);
  }
  if (!m_plot->Write(m_args.svg, Printable(m_properties.name), names, &error)) return Usage(error);
  printf("wrote %s\n", m_args.svg.c_str());
  return kExitOk;
}

int RenderRun::Run() {
  std::string error;
  if (!PlanFiles(&error)) return Usage(error);
  if (!m_trace.Open(m_args, &error)) return Usage(error);
  const int loaded = LoadModule();
  if (loaded >= 0) return loaded;
  if (!PlanPins(&error)) return Usage(error);
  // From here a crash ends with exit code 1 and no output.
  CrashReporter::Install();
  CrashReporter::EndWith(kExitFailed, m_writer.temporary_path());
  Start();
  const int rendered = RenderBlocks();
  return rendered == kExitOk ? Commit() : rendered;
}

}  // namespace

int RenderVerb::Run(const RenderArgs& args) { return RenderRun(args).Run(); }

}  // namespace semhost
