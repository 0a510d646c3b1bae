#pragma once
// `semhost render MODULE --in FILE… --out FILE [--set PIN=VALUE]…
// [--automate FILE.json] [--block-size N] [--sample-rate HZ]
// [--frames N | --seconds S] [--format float|pcm16|pcm24] [--svg FILE]`:
// runs the module's audio half over audio files through the stand-in host's
// audio engine (AudioEngine) and writes its sample outputs to a file.
//
// Every input is checked before the module processes a sample: files,
// rates, channels against the module's sample inputs, pins and values of
// --set and --automate, the output's format and folder; a bad one ends with a
// message and exit code 2, leaving no output file. A crash or abort in the
// module ends the render with exit code 1 and a line naming the signal, the
// block, the clock and the call that did not return; the temporary output
// file is removed, the target left as it was.

#include <stdint.h>

#include <string>
#include <vector>

namespace semhost {

struct RenderArgs {
  std::string module;
  std::vector<std::string> inputs;
  std::string out;
  std::vector<std::string> sets;  // "PIN=VALUE"
  std::string automate;
  int32_t block_size = 512;
  int32_t sample_rate = 0;  // 0: the inputs' rate, or 48000 without inputs
  int64_t frames = -1;      // -1: not given
  std::string seconds;      // "": not given
  std::string format;       // "": the output format's default
  std::string svg;
  // Where the trace goes ("" and trace false: no trace) and how many lines
  // of it are written before it stops (the render goes on).
  bool trace = false;
  std::string trace_file;
  int64_t trace_lines = 10000;
  int32_t module_index = 0;
};

class RenderVerb {
 public:
  // Runs the render; answers the exit code.
  static int Run(const RenderArgs& args);
};

}  // namespace semhost
