#include "RenderPlot.h"

#include <stdio.h>

#include <cmath>

#include "OutputRedirect.h"
#include "SvgPlot.h"

namespace semhost {

RenderPlot::RenderPlot(int32_t rate, int64_t total)
    : m_rate(rate > 0 ? rate : 1), m_stretch(total > 2000 ? (total + 999) / 1000 : 1) {}

void RenderPlot::Add(Envelope* e, float sample) const {
  if (!std::isfinite(sample)) e->broken = true;
  if (e->count == 0 || sample < e->low) e->low = sample;
  if (e->count == 0 || sample > e->high) e->high = sample;
  ++e->count;
  if (e->count == m_stretch) Finish(e);
}

void RenderPlot::Finish(Envelope* e) const {
  if (e->count == 0) return;
  const double t = static_cast<double>(e->frame) / m_rate;  // the stretch's first frame
  if (e->broken) {
    e->points.push_back({t, NAN});
  } else {
    e->points.push_back({t, e->low});
    if (e->count > 1) e->points.push_back({t, e->high});
  }
  e->frame += e->count;
  e->count = 0;
  e->broken = false;
}

void RenderPlot::AddInput(const std::string& name) { m_inputs.push_back({name, Envelope()}); }

void RenderPlot::AddInputSamples(size_t input, const float* samples, size_t stride, int64_t frames) {
  if (input >= m_inputs.size()) return;
  Envelope& e = m_inputs[input].second;
  for (int64_t f = 0; f < frames; ++f) Add(&e, samples[static_cast<size_t>(f) * stride]);
}

void RenderPlot::AddOutput(size_t output, const float* samples, int32_t frames) {
  if (m_outputs.size() <= output) m_outputs.resize(output + 1);
  for (int32_t i = 0; i < frames; ++i) Add(&m_outputs[output], samples[i]);
}

bool RenderPlot::Write(const std::string& path, const std::string& module_name,
                       const std::vector<std::string>& output_names, std::string* error) {
  SvgPlot chart(960, 540);
  chart.SetTitle(module_name + ": outputs and inputs over time");
  chart.SetXLabel("time (s)");
  chart.SetYLabel("sample");
  for (size_t o = 0; o < m_outputs.size(); ++o) {
    Finish(&m_outputs[o]);
    chart.AddSeries(o < output_names.size() ? output_names[o] : "output " + std::to_string(o + 1), m_outputs[o].points);
  }
  for (auto& input : m_inputs) {
    Finish(&input.second);
    chart.AddSeries("in: " + input.first, input.second.points);
  }
  const std::string text = chart.Render();
  FILE* file = fopen(OutputPath(path).c_str(), "wb");
  const bool ok = file && fwrite(text.data(), 1, text.size(), file) == text.size();
  if ((file && fclose(file) != 0) || !ok) {
    *error = "cannot write the chart " + path;
    return false;
  }
  return true;
}

}  // namespace semhost
