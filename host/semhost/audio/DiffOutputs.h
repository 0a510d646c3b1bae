#pragma once
// What `semhost diff` writes besides its report: the residual A - B as an
// audio file (--residual) and a chart of A, B and A - B (--svg), one lane per
// channel. Both go through the run's output planning: the paths were checked
// against the inputs and each other, and are written to temporaries that
// take the targets' place only when the comparison succeeded.

#include <string>

namespace semhost {

class AudioFile;

class DiffOutputs {
 public:
  // A - B over the frames both files have, as 32-bit floats (NaN and
  // infinities kept as the subtraction gives them). A and B have the same
  // channels and rate.
  static AudioFile Residual(const AudioFile& a, const AudioFile& b);
  // Writes the residual to `path`; the line to print, or "" with `error` set.
  static std::string WriteResidual(const AudioFile& a, const AudioFile& b, const std::string& path, std::string* error);
  // Writes the chart to `path`; the line to print, or "" with `error` set.
  static std::string WriteChart(const AudioFile& a, const AudioFile& b, const std::string& path, std::string* error);
};

}  // namespace semhost
