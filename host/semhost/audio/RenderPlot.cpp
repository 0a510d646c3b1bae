#include "RenderPlot.h"

#include "LaneChart.h"
#include "WholeFile.h"

namespace semhost {

RenderPlot::RenderPlot(int32_t rate, int64_t total) : m_rate(rate > 0 ? rate : 1), m_total(total) {}

void RenderPlot::AddInput(const std::string& name) {
  m_input_names.push_back(name);
  m_inputs.emplace_back(m_rate, Envelope::StretchFor(m_total));
}

void RenderPlot::AddInputSamples(size_t input, const float* samples, size_t stride, int64_t frames) {
  if (input >= m_inputs.size()) return;
  for (int64_t f = 0; f < frames; ++f) m_inputs[input].Add(samples[static_cast<size_t>(f) * stride]);
}

void RenderPlot::AddOutput(size_t output, const float* samples, size_t stride, int64_t frames) {
  while (m_outputs.size() <= output) m_outputs.emplace_back(m_rate, Envelope::StretchFor(m_total));
  for (int64_t f = 0; f < frames; ++f) m_outputs[output].Add(samples[static_cast<size_t>(f) * stride]);
}

void RenderPlot::AddMark(int64_t frame, const std::string& label) { m_marks.push_back({frame, label}); }

bool RenderPlot::Write(const std::string& path, const std::string& module_name,
                       const std::vector<std::string>& output_names, std::string* error) {
  LaneChart chart(static_cast<double>(m_total) / m_rate);
  chart.SetTitle(module_name + ": each output channel over its input");
  const size_t lanes = m_outputs.size() > m_inputs.size() ? m_outputs.size() : m_inputs.size();
  for (size_t c = 0; c < lanes; ++c) {
    const std::string channel = "channel " + std::to_string(c + 1);
    const bool out = c < m_outputs.size();
    const size_t lane = chart.AddLane(out && c < output_names.size() ? channel + ": " + output_names[c]
                                      : out                          ? channel
                                                                     : channel + ": input only");
    if (c < m_inputs.size()) {  // behind the output
      m_inputs[c].Finish();
      chart.AddSeries(lane, "in: " + m_input_names[c], LaneChart::Style::kFaint, m_inputs[c].points());
    }
    if (out) {
      m_outputs[c].Finish();
      chart.AddSeries(lane, "out", LaneChart::Style::kMain, m_outputs[c].points());
    }
  }
  for (const auto& mark : m_marks) chart.AddMark(static_cast<double>(mark.first) / m_rate, mark.second);
  return WriteWholeFile(path, chart.Render(), error);
}

}  // namespace semhost
