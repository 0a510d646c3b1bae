#pragma once
// The chart of a render (`render --svg`), drawn with LaneChart: output
// channel N in lane N, with input channel N faint behind it and the output
// on top (an input channel past the outputs gets a lane of its own), and a
// mark at each automation step's frame naming the pin and the value. Long
// signals are reduced to their envelope (Envelope), so peaks stay visible.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "Envelope.h"

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
  // Appends the next `frames` samples of output number `output`, sample f at
  // samples[f * stride].
  void AddOutput(size_t output, const float* samples, size_t stride, int64_t frames);
  // A change that takes effect at `frame`, such as "Gain = 2".
  void AddMark(int64_t frame, const std::string& label);
  // Writes the chart; `output_names` name the outputs in order.
  bool Write(const std::string& path, const std::string& module_name, const std::vector<std::string>& output_names,
             std::string* error);

 private:
  int32_t m_rate;
  int64_t m_total;
  std::vector<std::string> m_input_names;
  std::vector<Envelope> m_inputs;
  std::vector<Envelope> m_outputs;
  std::vector<std::pair<int64_t, std::string>> m_marks;
};

}  // namespace semhost
