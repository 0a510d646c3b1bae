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
#include "RenderCore.h"
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

constexpr int32_t kChunk = 16384;  // frames read or written at a time, at least

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
  bool tracing() const { return m_tracer && m_written <= m_limit; }

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
  // Quiet runs while nothing is traced (a trace shows every call).
  bool TakesQuietRuns() const override { return !m_trace.tracing(); }
  std::atomic<uint32_t>* QuietRunStarted(const TraceEntry& entry, const StandInHost& host) override {
    return m_crash.QuietRunStarted(entry, host);
  }
  void QuietRunEnded(const TraceEntry& entry, const StandInHost& host) override { m_crash.QuietRunEnded(entry, host); }
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
  std::unique_ptr<RenderCore> m_core;
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
    if (!Automation::ParseTime(seconds + "s", m_rate, kMaxRenderFrames, &m_total, error)) {
      *error = error->find("past the end") != std::string::npos
                   ? "--seconds " + m_args.seconds + " is longer than a render can be (" + std::to_string(kMaxRenderFrames) +
                         " frames)"
                   : "--seconds expects a decimal number of seconds, such as 1.5; got '" + m_args.seconds + "'";
      return false;
    }
  }
  if (m_args.inputs.empty() && m_args.frames < 0 && m_args.seconds.empty()) {
    *error = "no input file to take the length from: give --frames N or --seconds S";
    return false;
  }
  if (m_total < 1 || m_total > kMaxRenderFrames) {
    *error = "the render would be " + std::to_string(m_total) + " frames long; it takes 1 to " + std::to_string(kMaxRenderFrames);
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
  m_core.reset(new RenderCore(*m_session, m_rate, m_args.block_size, m_total));
  if (!m_core->PlanPins(m_inputs.channel_count(), error)) return false;
  if (!PlanChanges(error)) return false;
  m_channels = static_cast<int32_t>(m_core->output_count());
  return m_writer.Open(m_args.out, m_channels, m_rate, m_format, error, m_total);
}

// Every --set and automation step, resolved against the pins.
bool RenderRun::PlanChanges(std::string* error) {
  for (const std::string& set : m_args.sets) {
    if (!m_core->AddSet(set, error)) return false;
  }
  if (m_args.automate.empty()) return true;
  Automation automation;
  if (!automation.Read(m_args.automate, m_rate, m_total, error)) return false;
  return m_core->AddAutomation(automation, m_args.automate, error);
}

// Opens the halves, streams the inputs and schedules the changes.
void RenderRun::Start() {
  m_plot.reset(new RenderPlot(m_rate, m_total));
  // Chunks of inputs as long as the output's, so reading costs as few calls as writing.
  m_core->Start([this](AudioEngine& engine) {
    m_inputs.Start(m_args.block_size, kChunk, &engine, m_args.svg.empty() ? nullptr : m_plot.get());
  });
  for (const RenderChange& change : m_core->changes()) {
    if (!change.mark.empty()) m_plot->AddMark(change.frame, change.mark);
  }
}

// Every block, a chunk of the inputs at a time: the chunk's outputs are
// gathered interleaved and written at once (small blocks would otherwise cost
// a write each).
int RenderRun::RenderBlocks() {
  const int64_t chunk = m_inputs.chunk();
  std::vector<float> interleaved(static_cast<size_t>(chunk) * static_cast<size_t>(m_channels));
  Progress progress("render", isatty(fileno(stderr)) && m_total >= m_rate);
  const auto begin = [&](int64_t first) {
    m_inputs.Advance(first);
    return sehost::OutputLayout{interleaved.data(), static_cast<size_t>(m_channels), 1};
  };
  const auto end = [&](int64_t first, int64_t frames, std::string* why) {
    if (!m_writer.Write(interleaved.data(), frames, why)) return false;
    if (!m_args.svg.empty()) {
      for (int32_t c = 0; c < m_channels; ++c) {
        m_plot->AddOutput(static_cast<size_t>(c), interleaved.data() + c, static_cast<size_t>(m_channels), frames);
      }
    }
    if (progress.shown()) {
      char text[64];
      snprintf(text, sizeof text, "%.1f of %.1f s", static_cast<double>(first + frames) / m_rate,
               static_cast<double>(m_total) / m_rate);
      progress.Update(first + frames, m_total, text);
    }
    return true;
  };
  std::string error;
  const int rendered = m_core->RenderSpans(chunk, begin, end, &error);
  if (rendered == kExitFailed) {
    fprintf(stderr, "semhost: render: %s\n", error.c_str());
    return kExitFailed;
  }
  if (rendered != kExitOk) return Usage(error);
  return m_inputs.Finish(&error) ? kExitOk : Usage(error);
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
  // The pin's name; the lane says the channel, so a repeated pin needs no number of its own.
  if (!m_plot->Write(m_args.svg, Printable(m_properties.name), m_core->OutputNames(), &error)) return Usage(error);
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
