#include "AudioVerbs.h"

#include <stdio.h>

#include <CLI/CLI.hpp>

#include "ExitCode.h"


namespace semhost {

AudioVerbs::AudioVerbs(CLI::App& app) {
  m_diff = app.add_subcommand("diff", "compare two audio files: frames, channels, peak and RMS difference, first difference");
  DiffArgs& d = m_diff_args;
  m_diff->add_option("A", d.a, "the first audio file")->required();
  m_diff->add_option("B", d.b, "the second audio file")->required();
  m_diff->add_option("--tolerance", d.tolerance,
                     "DB: samples within 10^(DB/20) of each other count as equal (such as -120; default: bit-exact)");
  m_diff->add_option("--residual", d.residual, "FILE: write A - B there, as float samples (the frames both files have)");
  m_diff->add_option("--svg", d.svg, "FILE: a chart of A, B and A - B, one lane per channel");

  RenderArgs& r = m_render_args;
  m_render = app.add_subcommand("render", "run the module's audio half over audio files and write its sample outputs");
  m_render->add_option("MODULE", r.module, "path of the module library")->required();
  m_render->add_option("--in", r.inputs, "FILE…: input files; their channels, in order, feed the sample inputs")
      ->expected(1, -1);
  m_render->add_option("--out", r.out, "FILE: the output file (format from its extension)")->required();
  m_render->add_option("--set", r.sets, "PIN=VALUE: a control's value before the first sample (a choice's text for an enumerated pin)");
  m_render->add_option("--automate", r.automate, "FILE.json: step changes { \"PIN\": { \"TIME\": VALUE, … }, … }");
  m_render->add_option("--block-size", r.block_size, "N: frames per block (default 512)")->check(CLI::Range(1, 1 << 20));
  m_render->add_option("--sample-rate", r.sample_rate, "HZ: without inputs (default 48000); with inputs it must be theirs")
      ->check(CLI::Range(1, 10000000));
  CLI::Option* frames = m_render->add_option("--frames", r.frames, "N: render N frames (default: the longest input)")
                            ->check(CLI::Range(int64_t{1}, int64_t{4294967295LL}));
  m_render->add_option("--seconds", r.seconds, "S: render S seconds (a decimal, such as 1.5)")->excludes(frames);
  m_render->add_option("--format", r.format, "float|pcm16|pcm24: the output's sample format (default float where the format holds it)");
  m_render->add_option("--svg", r.svg, "FILE: a chart of each output channel over its input, with the automation steps");
  m_render->add_option("--trace-lines", r.trace_lines, "N: with --trace, the trace stops after N lines (default 10000)")
      ->check(CLI::Range(int64_t{1}, int64_t{1000000000}));
}

bool AudioVerbs::Selected() const { return m_diff->parsed() || m_render->parsed(); }

bool AudioVerbs::Rendering() const { return m_render->parsed(); }

std::vector<std::string> AudioVerbs::diff_inputs() const {
  if (!m_diff->parsed()) return {};
  return {m_diff_args.a, m_diff_args.b};
}

std::vector<std::pair<std::string, std::string>> AudioVerbs::diff_outputs() const {
  if (!m_diff->parsed()) return {};
  return {{m_diff_args.residual, "--residual"}, {m_diff_args.svg, "--svg"}};
}

int AudioVerbs::Run(const ModuleOptions& options) const {
#if defined(SEMHOST_AUDIO_FILES)
  if (m_diff->parsed()) return AudioDiff::Run(m_diff_args);
  if (m_render->parsed()) {
    RenderArgs args = m_render_args;
    args.trace = options.trace;
    args.trace_file = options.trace_file;
    args.module_index = options.module_index;
    return RenderVerb::Run(args);
  }
#else
  (void)options;
  const char* verb = m_diff->parsed() ? "diff" : "render";
  fprintf(stderr, "semhost: %s: this semhost was not built with audio file support (libsndfile); use a Linux build\n", verb);
#endif
  return kExitUsage;
}

}  // namespace semhost
