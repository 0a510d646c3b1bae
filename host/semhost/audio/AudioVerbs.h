#pragma once
// semhost's verbs on audio files: `diff A B [--tolerance DB] [--residual
// FILE] [--svg FILE]` (AudioDiff) and
// `render MODULE --in FILE… --out FILE …` (RenderVerb). A build without
// audio file support (the Windows ones) still knows the verbs and answers
// that it lacks the support.

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "AudioDiff.h"
#include "RenderVerb.h"

namespace CLI {
class App;
}

namespace semhost {

// The options every module verb takes, from semhost's command line.
struct ModuleOptions {
  bool trace = false;
  std::string trace_file;
  int32_t module_index = 0;
};

class AudioVerbs {
 public:
  // Adds the verbs to `app`; `app` must outlive this object.
  explicit AudioVerbs(CLI::App& app);

  // True when the parsed command line named one of these verbs.
  bool Selected() const;
  // Runs it; answers the exit code.
  int Run(const ModuleOptions& options) const;
  // The render's arguments when the command line named render, else null.
  RenderArgs* render() { return Rendering() ? &m_render_args : nullptr; }
  const RenderArgs* render() const { return Rendering() ? &m_render_args : nullptr; }
  // The files diff compares, when the command line named diff.
  std::vector<std::string> diff_inputs() const;
  // The files diff writes, with their options ("--residual"), when the
  // command line named diff.
  std::vector<std::pair<std::string, std::string>> diff_outputs() const;

 private:
  bool Rendering() const;

  CLI::App* m_diff = nullptr;
  DiffArgs m_diff_args;
  CLI::App* m_render = nullptr;
  RenderArgs m_render_args;
};

}  // namespace semhost
