#pragma once
// The chart of a render (`render --svg`): every input channel and every
// output over time, in seconds, drawn with SvgPlot. Long signals are reduced
// to their envelope: each of about 1000 stretches of equal length gives its
// lowest and highest sample, so peaks stay visible; a stretch with a NaN or
// an infinity breaks the line there.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace semhost {

class RenderPlot {
 public:
  // `total` frames at `rate` Hz will be added per signal.
  RenderPlot(int32_t rate, int64_t total);

  // Adds an input channel, number AddInput's count before; its samples follow.
  void AddInput(const std::string& name);
  // Appends the next `frames` samples of input number `input`, sample f at
  // samples[f * stride].
  void AddInputSamples(size_t input, const float* samples, size_t stride, int64_t frames);
  // Appends the next `frames` samples of output number `output`.
  void AddOutput(size_t output, const float* samples, int32_t frames);
  // Writes the chart; `output_names` name the outputs in order.
  bool Write(const std::string& path, const std::string& module_name, const std::vector<std::string>& output_names,
             std::string* error);

 private:
  // One signal's envelope, built sample by sample.
  struct Envelope {
    std::vector<std::pair<double, double>> points;
    int64_t frame = 0;  // the first frame of the current stretch
    int64_t count = 0;  // samples of the current stretch seen
    float low = 0.0f, high = 0.0f;
    bool broken = false;  // the stretch holds a value that is not finite
  };
  void Add(Envelope* envelope, float sample) const;
  void Finish(Envelope* envelope) const;

  int32_t m_rate;
  int64_t m_stretch;  // frames per stretch
  std::vector<std::pair<std::string, Envelope>> m_inputs;
  std::vector<Envelope> m_outputs;
};

}  // namespace semhost
