#pragma once
// Compares two audio files sample by sample, for `semhost diff`.
//
// A sample differs when its two floats differ in their bits and either no
// tolerance is given (bit-exact, the default: -0 differs from 0, a NaN from
// another NaN payload), or one of them is not finite, or |a - b| exceeds
// 10^(DB/20) for the tolerance DB (-120 allows differences up to 1e-6 of
// full scale). Files of different lengths always differ; the shorter one
// reads as silence past its end for the figures.

#include <stdint.h>

#include <string>

namespace semhost {

class AudioFile;

// `semhost diff A B [--tolerance DB] [--residual FILE] [--svg FILE]`.
struct DiffArgs {
  std::string a, b;
  std::string tolerance;  // "": bit-exact
  std::string residual;   // "": none (DiffOutputs)
  std::string svg;        // "": none
};

struct DiffFigures {
  int64_t frames_a = 0;
  int64_t frames_b = 0;
  int32_t channels = 0;
  double peak = 0.0;         // the largest |a - b| over every sample (NaN when a difference is NaN)
  double rms_dbfs = 0.0;     // 20·log10 of the root mean square of a - b over every sample; -inf when equal
  int64_t first_frame = -1;  // the first frame with a sample that differs, -1 for none
  int32_t first_channel = -1;  // from 0; the report counts channels from 1
  float first_a = 0.0f;  // that sample in A and in B
  float first_b = 0.0f;
};

class AudioDiff {
 public:
  // No tolerance: bit-exact. With one: `tolerance_db` as above.
  AudioDiff() = default;
  explicit AudioDiff(double tolerance_db);

  // `a` and `b` must have the same channel count.
  DiffFigures Compare(const AudioFile& a, const AudioFile& b) const;
  // True when the files are the same length and no sample differs.
  static bool Within(const DiffFigures& figures) { return figures.frames_a == figures.frames_b && figures.first_frame < 0; }
  // The report lines of `semhost diff`.
  std::string Report(const DiffFigures& figures, int32_t sample_rate) const;

  // Runs the verb; answers the exit code (0 within the tolerance, 1
  // different, 2 bad arguments, files that cannot be compared, or an output
  // that cannot be written).
  static int Run(const DiffArgs& args);

 private:
  bool m_bit_exact = true;
  double m_tolerance_db = 0.0;
  double m_threshold = 0.0;  // 10^(DB/20)
};

}  // namespace semhost
