#include "DiffOutputs.h"

#include "AudioFile.h"
#include "Envelope.h"
#include "LaneChart.h"
#include "WholeFile.h"

namespace semhost {

namespace {

int64_t CommonFrames(const AudioFile& a, const AudioFile& b) { return a.frames() < b.frames() ? a.frames() : b.frames(); }

}  // namespace

AudioFile DiffOutputs::Residual(const AudioFile& a, const AudioFile& b) {
  const size_t count = static_cast<size_t>(CommonFrames(a, b)) * static_cast<size_t>(a.channels());
  std::vector<float> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = a.interleaved()[i] - b.interleaved()[i];
  return AudioFile(a.channels(), a.sample_rate(), std::move(samples));
}

std::string DiffOutputs::WriteResidual(const AudioFile& a, const AudioFile& b, const std::string& path,
                                       std::string* error) {
  const AudioFile residual = Residual(a, b);
  if (!residual.Write(path, SampleFormat::kFloat, error)) return "";
  std::string line = "wrote " + path + ": A - B, " + std::to_string(residual.channels()) + " channel(s), " +
                     std::to_string(residual.frames()) + " frames at " + std::to_string(residual.sample_rate()) + " Hz";
  if (a.frames() != b.frames()) {
    line += " (the frames both have: A has " + std::to_string(a.frames()) + ", B " + std::to_string(b.frames()) + ")";
  }
  return line;
}

std::string DiffOutputs::WriteChart(const AudioFile& a, const AudioFile& b, const std::string& path, std::string* error) {
  const int64_t longest = a.frames() > b.frames() ? a.frames() : b.frames();
  const int64_t common = CommonFrames(a, b);
  const int64_t stretch = Envelope::StretchFor(longest);
  LaneChart chart(static_cast<double>(longest) / a.sample_rate());
  chart.SetTitle("A, B and A - B");
  for (int32_t c = 0; c < a.channels(); ++c) {
    Envelope in_a(a.sample_rate(), stretch), in_b(a.sample_rate(), stretch), difference(a.sample_rate(), stretch);
    for (int64_t f = 0; f < a.frames(); ++f) in_a.Add(a.Sample(f, c));
    for (int64_t f = 0; f < b.frames(); ++f) in_b.Add(b.Sample(f, c));
    for (int64_t f = 0; f < common; ++f) difference.Add(a.Sample(f, c) - b.Sample(f, c));
    in_a.Finish(), in_b.Finish(), difference.Finish();
    const size_t lane = chart.AddLane("channel " + std::to_string(c + 1));
    chart.AddSeries(lane, "A", LaneChart::Style::kFaint, in_a.points());
    chart.AddSeries(lane, "B", LaneChart::Style::kMain, in_b.points());
    chart.AddSeries(lane, "A - B", LaneChart::Style::kDifference, difference.points());
  }
  if (!WriteWholeFile(path, chart.Render(), error)) return "";
  return "wrote " + path + ": A, B and A - B, one lane per channel";
}

}  // namespace semhost
