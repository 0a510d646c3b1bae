#include "AudioVerbs.h"

#include <stdio.h>

#include <CLI/CLI.hpp>

#include "ExitCode.h"

#if defined(SEMHOST_AUDIO_FILES)
#include "AudioDiff.h"
#endif

namespace semhost {

AudioVerbs::AudioVerbs(CLI::App& app) {
  m_diff = app.add_subcommand("diff", "compare two audio files: frames, channels, peak and RMS difference, first difference");
  m_diff->add_option("A", m_diff_a, "the first audio file")->required();
  m_diff->add_option("B", m_diff_b, "the second audio file")->required();
  m_diff->add_option("--tolerance", m_tolerance,
                     "DB: samples within 10^(DB/20) of each other count as equal (such as -120; default: bit-exact)");
}

bool AudioVerbs::Selected() const { return m_diff->parsed(); }

int AudioVerbs::Run() const {
#if defined(SEMHOST_AUDIO_FILES)
  if (m_diff->parsed()) return AudioDiff::Run(m_diff_a, m_diff_b, m_tolerance);
#else
  if (m_diff->parsed()) {
    fprintf(stderr, "semhost: diff: this semhost was not built with audio file support (libsndfile); use a Linux build\n");
  }
#endif
  return kExitUsage;
}

}  // namespace semhost
