#include "RenderVerb.h"

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "AudioEngine.h"
#include "AudioFile.h"
#include "AudioWriter.h"
#include "Automation.h"
#include "CrashReporter.h"
#include "ExitCode.h"
#include "ModuleInfo.h"
#include "ModuleLibrary.h"
#include "OutputRedirect.h"
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
    if (entry.entry == Entry::kProcess || entry.entry == Entry::kEvent) CrashReporter::SetClock(host.sample_clock());
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

// The input files, read whole, their channels one by one, and the render's
// rate and length. The engine reads each channel in place from its file's
// interleaved samples.
struct InputChannel {
  size_t file;
  int32_t channel;
  std::string name;  // "in.wav ch 1"
};
struct Inputs {
  std::vector<AudioFile> files;
  std::vector<InputChannel> channels;
  int32_t sample_rate = 0;
  int64_t frames = 0;  // the longest input
};

bool ReadInputs(const RenderArgs& args, Inputs* inputs, std::string* error) {
  std::string first_rate_file;
  for (const std::string& path : args.inputs) {
    AudioFile file;
    if (!file.Read(path, error)) return false;
    if (!file.warning().empty()) fprintf(stderr, "semhost: render: warning: %s\n", file.warning().c_str());
    if (inputs->sample_rate == 0) {
      inputs->sample_rate = file.sample_rate();
      first_rate_file = path;
    } else if (file.sample_rate() != inputs->sample_rate) {
      *error = "the inputs are at different sample rates: " + first_rate_file + " at " +
               std::to_string(inputs->sample_rate) + " Hz, " + path + " at " + std::to_string(file.sample_rate()) +
               " Hz (semhost does not resample)";
      return false;
    }
    inputs->frames = std::max(inputs->frames, file.frames());
    for (int32_t c = 0; c < file.channels(); ++c) {
      inputs->channels.push_back({inputs->files.size(), c, path + " ch " + std::to_string(c + 1)});
    }
    inputs->files.push_back(std::move(file));
  }
  return true;
}

// A pin and value given on the command line or in the automation, resolved.
struct Change {
  const PinInfo* pin;
  uint32_t bits;
  int64_t frame;
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
  changes->push_back({pin, bits, frame});
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

// A progress line on a terminal, at most once per percent.
class Progress {
 public:
  Progress(int64_t total, int32_t rate) : m_total(total), m_rate(rate), m_show(isatty(fileno(stderr)) && total >= rate) {}
  void Update(int64_t done) {
    if (!m_show) return;
    const int percent = static_cast<int>(done * 100 / m_total);
    if (percent == m_last) return;
    m_last = percent;
    fprintf(stderr, "\rrender: %.1f of %.1f s (%d%%)", static_cast<double>(done) / m_rate,
            static_cast<double>(m_total) / m_rate, percent);
    if (done == m_total) fprintf(stderr, "\r%60s\r", "");
    fflush(stderr);
  }

 private:
  int64_t m_total;
  int32_t m_rate;
  bool m_show;
  int m_last = -1;
};

}  // namespace

int RenderVerb::Run(const RenderArgs& args) {
  // ---- the command line and the files, before the module is loaded ----
  SampleFormat format = SampleFormat::kDefault;
  std::string error;
  if (!args.format.empty() && !ParseSampleFormat(args.format, &format, &error)) return Usage(error);
  if (!args.svg.empty() && access(Folder(args.svg).c_str(), W_OK) != 0) {
    return Usage("cannot write the chart " + args.svg + ": its folder is missing or not writable");
  }
  Inputs inputs;
  if (!ReadInputs(args, &inputs, &error)) return Usage(error);
  if (args.sample_rate > 0 && inputs.sample_rate > 0 && args.sample_rate != inputs.sample_rate) {
    return Usage("--sample-rate " + std::to_string(args.sample_rate) + " differs from the inputs' rate, " +
                 std::to_string(inputs.sample_rate) + " Hz (semhost does not resample)");
  }
  const int32_t rate = inputs.sample_rate > 0 ? inputs.sample_rate : args.sample_rate > 0 ? args.sample_rate : 48000;
  int64_t total = inputs.frames;
  if (args.frames >= 0) total = args.frames;
  if (!args.seconds.empty()) {
    std::string seconds = args.seconds;  // "1.5" or "1.5s"
    if (seconds.back() == 's') seconds.pop_back();
    if (!Automation::ParseTime(seconds + "s", rate, kMaxFrames, &total, &error)) {
      return Usage(error.find("past the end") != std::string::npos
                       ? "--seconds " + args.seconds + " is longer than a render can be (" + std::to_string(kMaxFrames) +
                             " frames)"
                       : "--seconds expects a decimal number of seconds, such as 1.5; got '" + args.seconds + "'");
    }
  }
  if (args.inputs.empty() && args.frames < 0 && args.seconds.empty()) {
    return Usage("no input file to take the length from: give --frames N or --seconds S");
  }
  if (total < 1 || total > kMaxFrames) {
    return Usage("the render would be " + std::to_string(total) + " frames long; it takes 1 to " +
                 std::to_string(kMaxFrames));
  }

  // ---- the module's pins, then everything that needs them ----
  BoundedTrace trace;
  if (!trace.Open(args, &error)) return Usage(error);
  sehost::ModuleLibrary library(args.module);
  if (!library.ok()) {
    fprintf(stderr, "semhost: %s\n", library.error().c_str());
    return kExitLoadFailed;
  }
  RenderObserver observer(trace);
  Session session(library, args.module_index, &observer);
  ModuleProperties properties = {};
  if (session.GetProperties(args.module_index, &properties) == 0) {
    fprintf(stderr, "semhost: %s holds no module %d\n", args.module.c_str(), static_cast<int>(args.module_index));
    return kExitFailed;
  }
  if (!session.ReadAudioPins(&error)) {
    fprintf(stderr, "semhost: %s: %s\n", args.module.c_str(), error.c_str());
    return kExitFailed;
  }
  ModuleInfo info;
  info.index = args.module_index;
  for (size_t i = 0; i < session.pins().size(); ++i) info.pins.push_back(DescribePin(static_cast<int32_t>(i), session.pins()[i]));
  AudioEngine engine(session.host(), session.pins(), Repeats(session.pins(), inputs.channels.size()));
  if (inputs.channels.size() > engine.sample_inputs().size()) {
    std::string names;
    for (int32_t index : engine.sample_inputs()) {
      const PinInfo& pin = info.pins[static_cast<size_t>(engine.pins()[static_cast<size_t>(index)].declaration)];
      names += (names.empty() ? "\"" : ", \"") + pin.name + "\"";
    }
    return Usage("the input files give " + std::to_string(inputs.channels.size()) + " channel(s); the module takes " +
                 std::to_string(engine.sample_inputs().size()) + (names.empty() ? " (it has no sample input)" : " (" + names + ")"));
  }
  if (engine.sample_outputs().empty()) return Usage("the module has no sample output (DT_FSAMPLE) to render");
  std::vector<Change> changes;
  for (const std::string& set : args.sets) {
    const size_t equals = set.find('=');
    if (equals == std::string::npos) return Usage("--set expects PIN=VALUE, got '" + set + "'");
    if (!Resolve(info, engine, "--set " + set, set.substr(0, equals), set.substr(equals + 1), 0, &changes, &error)) {
      return Usage(error);
    }
  }
  if (!args.automate.empty()) {
    Automation automation;
    if (!automation.Read(args.automate, rate, total, &error)) return Usage(error);
    for (const AutomationStep& step : automation.steps()) {
      const std::string where = args.automate + ": pin \"" + step.pin + "\", time '" + step.time + "'";
      if (!Resolve(info, engine, where, step.pin, step.text, step.frame, &changes, &error)) return Usage(error);
    }
  }
  AudioWriter writer;
  const int32_t channels = static_cast<int32_t>(engine.sample_outputs().size());
  if (!writer.Open(args.out, channels, rate, format, &error, total)) return Usage(error);

  // ---- the render: from here a crash ends with exit code 1 and no output ----
  CrashReporter::Install();
  CrashReporter::EndWith(kExitFailed, writer.temporary_path());
  CrashReporter::SetPhase("opening the audio half");
  for (const Change& change : changes) {
    if (change.frame == 0) session.SetPin(change.pin->index, change.bits);  // what a GUI half reads when made
  }
  session.OpenAudio(static_cast<float>(rate), args.block_size, &engine);
  StandInHost& host = session.host();
  CrashReporter::SetPhase("making the GUI half");
  const bool has_gui = session.CreateGui() != nullptr;  // a module may make none
  for (size_t i = 0; i < inputs.channels.size(); ++i) {
    const AudioFile& file = inputs.files[inputs.channels[i].file];
    // An empty file has no samples to point into: it streams silence.
    const float* samples = file.frames() > 0 ? file.interleaved().data() + inputs.channels[i].channel : nullptr;
    engine.Stream(i, samples, file.frames(), static_cast<size_t>(file.channels()));
  }
  for (const Change& change : changes) {
    // A pin the GUI half shares is also told, as a host tells it of any change.
    std::function<void()> also;
    if (has_gui && (change.pin->flags & IO_UI_COMMUNICATION)) {
      also = [&session, change] { session.Change(change.pin->index, change.bits); };
    }
    engine.ScheduleChange(change.pin->index, change.bits, static_cast<uint32_t>(change.frame), &error, also);
  }

  RenderPlot plot(rate, total);
  if (!args.svg.empty()) {
    for (const InputChannel& input : inputs.channels) {
      plot.AddInput(input.name, inputs.files[input.file].Channel(input.channel));
    }
  }
  // Blocks are gathered into chunks of at least kWriteChunk frames before
  // they are written: small blocks would otherwise cost a write per block.
  // A failed render removes the temporary file whatever was written.
  constexpr int32_t kWriteChunk = 4096;
  const int32_t chunk_frames = std::max(kWriteChunk, args.block_size);
  std::vector<float> interleaved(static_cast<size_t>(chunk_frames) * static_cast<size_t>(channels));
  int32_t pending = 0;  // frames gathered in `interleaved`
  const auto flush = [&]() {
    const bool ok = pending == 0 || writer.Write(interleaved.data(), pending, &error);
    pending = 0;
    return ok;
  };
  Progress progress(total, rate);
  CrashReporter::SetPhase("rendering");
  int64_t done = 0;
  for (long long block = 0; done < total; ++block) {
    const int32_t frames = static_cast<int32_t>(std::min<int64_t>(args.block_size, total - done));
    CrashReporter::SetStep(block, "block");
    CrashReporter::SetClock(done);
    engine.Process(frames);
    if (!host.audio()) {
      fprintf(stderr, "semhost: render: the audio half is gone (%s)\n", host.last_refusal().c_str());
      return kExitFailed;
    }
    if (pending + frames > chunk_frames && !flush()) {
      fprintf(stderr, "semhost: render: %s\n", error.c_str());
      return kExitUsage;
    }
    float* to = interleaved.data() + static_cast<size_t>(pending) * static_cast<size_t>(channels);
    for (int32_t c = 0; c < channels; ++c) {
      const float* samples = engine.Output(static_cast<size_t>(c));
      for (int32_t f = 0; f < frames; ++f) to[static_cast<size_t>(f * channels + c)] = samples[f];
      if (!args.svg.empty()) plot.AddOutput(static_cast<size_t>(c), samples, frames);
    }
    pending += frames;
    done += frames;
    progress.Update(done);
  }
  if (!flush()) {
    fprintf(stderr, "semhost: render: %s\n", error.c_str());
    return kExitUsage;
  }
  CrashReporter::SetPhase("closing the module");
  session.Stop();
  if (!writer.Commit(&error)) {
    fprintf(stderr, "semhost: render: %s\n", error.c_str());
    return kExitUsage;
  }
  printf("wrote %s: %d channel(s), %lld frames at %d Hz, %lld block(s) of up to %d frames\n", args.out.c_str(),
         static_cast<int>(channels), static_cast<long long>(total), static_cast<int>(rate),
         static_cast<long long>((total + args.block_size - 1) / args.block_size), static_cast<int>(args.block_size));
  if (!args.svg.empty()) {
    std::vector<std::string> names;
    for (int32_t index : engine.sample_outputs()) {
      const sehost::EnginePin& pin = engine.pins()[static_cast<size_t>(index)];
      names.push_back(info.pins[static_cast<size_t>(pin.declaration)].name + (pin.repeat ? " " + std::to_string(index) : ""));
    }
    if (!plot.Write(args.svg, Printable(properties.name), names, &error)) return Usage(error);
    printf("wrote %s\n", args.svg.c_str());
  }
  return kExitOk;
}

}  // namespace semhost
