#include "AudioDiff.h"

#include <stdio.h>
#include <string.h>

#include <cmath>

#include "AudioFile.h"
#include "DiffOutputs.h"
#include "ExitCode.h"
#include "Text.h"

namespace semhost {

namespace {

uint32_t Bits(float f) {
  uint32_t bits;
  memcpy(&bits, &f, sizeof bits);
  return bits;
}

std::string Decibels(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char text[32];
  snprintf(text, sizeof text, "%.2f", value);
  return text;
}

}  // namespace

AudioDiff::AudioDiff(double tolerance_db)
    : m_bit_exact(false), m_tolerance_db(tolerance_db), m_threshold(std::pow(10.0, tolerance_db / 20.0)) {}

DiffFigures AudioDiff::Compare(const AudioFile& a, const AudioFile& b) const {
  DiffFigures figures;
  figures.frames_a = a.frames();
  figures.frames_b = b.frames();
  figures.channels = a.channels();
  const int64_t frames = figures.frames_a > figures.frames_b ? figures.frames_a : figures.frames_b;
  double sum_of_squares = 0.0;
  for (int64_t frame = 0; frame < frames; ++frame) {
    for (int32_t channel = 0; channel < figures.channels; ++channel) {
      const float x = frame < figures.frames_a ? a.Sample(frame, channel) : 0.0f;
      const float y = frame < figures.frames_b ? b.Sample(frame, channel) : 0.0f;
      if (Bits(x) == Bits(y)) continue;
      const double difference = std::fabs(static_cast<double>(x) - static_cast<double>(y));
      if (!std::isnan(figures.peak) && !(difference <= figures.peak)) figures.peak = difference;  // a NaN sticks
      sum_of_squares += difference * difference;
      const bool differs = m_bit_exact || !std::isfinite(x) || !std::isfinite(y) || difference > m_threshold;
      if (differs && figures.first_frame < 0 && frame < figures.frames_a && frame < figures.frames_b) {
        figures.first_frame = frame;
        figures.first_channel = channel;
        figures.first_a = x;
        figures.first_b = y;
      }
    }
  }
  const double count = static_cast<double>(frames) * static_cast<double>(figures.channels);
  figures.rms_dbfs = count > 0 ? 20.0 * std::log10(std::sqrt(sum_of_squares / count)) : -INFINITY;
  return figures;
}

std::string AudioDiff::Report(const DiffFigures& f, int32_t sample_rate) const {
  std::string text;
  if (f.frames_a == f.frames_b) {
    text += "frames: " + std::to_string(f.frames_a) + "\n";
  } else {
    text += "frames: " + std::to_string(f.frames_a) + " in A, " + std::to_string(f.frames_b) + " in B\n";
  }
  text += "channels: " + std::to_string(f.channels) + "\n";
  text += "sample rate: " + std::to_string(sample_rate) + "\n";
  text += "peak difference: " + FormatDouble(f.peak) + " (" + Decibels(20.0 * std::log10(f.peak)) + " dBFS)\n";
  text += "rms difference: " + Decibels(f.rms_dbfs) + " dBFS\n";
  if (f.first_frame >= 0) {
    text += "first difference: frame " + std::to_string(f.first_frame) + ", channel " + std::to_string(f.first_channel + 1) +
            " (" + FormatFloat(f.first_a) + " in A, " + FormatFloat(f.first_b) + " in B)\n";
  } else if (f.frames_a != f.frames_b) {
    text += "first difference: frame " + std::to_string(f.frames_a < f.frames_b ? f.frames_a : f.frames_b) +
            " (" + (f.frames_a < f.frames_b ? "A" : "B") + " ends)\n";
  } else {
    text += "first difference: none\n";
  }
  const std::string tolerance = m_bit_exact ? "bit-exact" : "tolerance " + FormatDouble(m_tolerance_db) + " dBFS";
  text += std::string(Within(f) ? "same" : "different") + " (" + tolerance + ")\n";
  return text;
}

int AudioDiff::Run(const DiffArgs& args) {
  auto usage = [](const std::string& message) {
    fprintf(stderr, "semhost: diff: %s\n", message.c_str());
    return static_cast<int>(kExitUsage);
  };
  AudioDiff diff;
  if (!args.tolerance.empty()) {
    double db = 0.0;
    if (!ParseDouble(args.tolerance, &db) || !std::isfinite(db) || db > 0.0) {
      return usage("--tolerance expects decibels relative to full scale, 0 or below, such as -120; got '" +
                   args.tolerance + "'");
    }
    diff = AudioDiff(db);
  }
  AudioFile a, b;
  std::string error;
  if (!a.Read(args.a, &error) || !b.Read(args.b, &error)) return usage(error);
  if (a.channels() != b.channels()) {
    return usage("different channel counts: " + args.a + " has " + std::to_string(a.channels()) + ", " + args.b +
                 " has " + std::to_string(b.channels()));
  }
  if (a.sample_rate() != b.sample_rate()) {
    return usage("different sample rates: " + args.a + " is at " + std::to_string(a.sample_rate()) + " Hz, " + args.b +
                 " at " + std::to_string(b.sample_rate()) + " Hz");
  }
  const DiffFigures figures = diff.Compare(a, b);
  std::string written;
  if (!args.residual.empty()) {
    const std::string line = DiffOutputs::WriteResidual(a, b, args.residual, &error);
    if (line.empty()) return usage(error);
    written += line + "\n";
  }
  if (!args.svg.empty()) {
    const std::string line = DiffOutputs::WriteChart(a, b, args.svg, &error);
    if (line.empty()) return usage(error);
    written += line + "\n";
  }
  fputs((diff.Report(figures, a.sample_rate()) + written).c_str(), stdout);
  return Within(figures) ? kExitOk : kExitFailed;
}

}  // namespace semhost
