#include "SvgPlot.h"

#include <stdio.h>

#include <algorithm>
#include <cmath>

#include "Text.h"

namespace semhost {

namespace {

constexpr const char* kColors[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                   "#ff7f0e", "#17becf", "#8c564b", "#e377c2"};
constexpr int kLeft = 80;
constexpr int kRight = 170;  // room for the legend
constexpr int kTop = 44;
constexpr int kBottom = 56;

// [lo, hi] widened when it is a single value, so the axis has a length.
void Widen(double* lo, double* hi) {
  if (*hi > *lo) return;
  const double pad = *lo == 0.0 ? 1.0 : std::fabs(*lo) * 0.1;
  *lo -= pad;
  *hi += pad;
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

SvgPlot::SvgPlot(int width, int height) : m_width(width), m_height(height) {}

void SvgPlot::SetYRange(double lo, double hi) {
  m_fixed_y = true;
  m_y_lo = lo;
  m_y_hi = hi;
}

void SvgPlot::AddSeries(const std::string& name, std::vector<std::pair<double, double>> points) {
  m_series.push_back({name, std::move(points)});
}

bool SvgPlot::Plotted(double x, double y) const {
  if (!std::isfinite(x) || !std::isfinite(y)) return false;
  return !m_fixed_y || (y >= m_y_lo && y <= m_y_hi);
}

size_t SvgPlot::OmittedPoints() const {
  size_t omitted = 0;
  for (const Series& series : m_series) {
    for (const auto& point : series.points) omitted += Plotted(point.first, point.second) ? 0 : 1;
  }
  return omitted;
}

std::vector<double> SvgPlot::Ticks(double lo, double hi, int target) {
  std::vector<double> ticks;
  if (!(hi > lo) || !std::isfinite(hi - lo) || target < 1) return ticks;
  const double rough = (hi - lo) / target;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  // The nice step nearest the rough one.
  const double ratio = rough / power;
  const double step = power * (ratio < 1.5 ? 1.0 : ratio < 3.0 ? 2.0 : ratio < 7.0 ? 5.0 : 10.0);
  const double first = std::ceil(lo / step - 1e-9) * step;
  for (int i = 0; i < 1000; ++i) {
    double tick = first + i * step;
    if (tick > hi + step * 1e-9) break;
    if (std::fabs(tick) < step * 1e-9) tick = 0.0;  // no "-0" or 1e-17 for the zero tick
    ticks.push_back(tick);
  }
  return ticks;
}

SvgPlot::Area SvgPlot::Bounds() const {
  Area area;
  area.x_lo = INFINITY, area.x_hi = -INFINITY, area.y_lo = INFINITY, area.y_hi = -INFINITY;
  for (const Series& series : m_series) {
    for (const auto& point : series.points) {
      if (!Plotted(point.first, point.second)) continue;
      area.x_lo = std::min(area.x_lo, point.first);
      area.x_hi = std::max(area.x_hi, point.first);
      area.y_lo = std::min(area.y_lo, point.second);
      area.y_hi = std::max(area.y_hi, point.second);
    }
  }
  if (m_fixed_y) {
    area.y_lo = m_y_lo;
    area.y_hi = m_y_hi;
  }
  if (!(area.x_lo <= area.x_hi)) area.x_lo = 0.0, area.x_hi = 1.0;  // nothing finite to show
  if (!(area.y_lo <= area.y_hi)) area.y_lo = 0.0, area.y_hi = 1.0;
  Widen(&area.x_lo, &area.x_hi);
  Widen(&area.y_lo, &area.y_hi);
  area.width = m_width - kLeft - kRight;
  area.height = m_height - kTop - kBottom;
  return area;
}

double SvgPlot::Area::X(double x) const { return kLeft + (x - x_lo) / (x_hi - x_lo) * width; }
double SvgPlot::Area::Y(double y) const { return kTop + (y_hi - y) / (y_hi - y_lo) * height; }

// Grid, axes, ticks and the axes' labels.
std::string SvgPlot::Axes(const Area& a) const {
  std::string svg = "<g class=\"grid\" stroke=\"#dddddd\" stroke-width=\"1\">\n";
  const std::vector<double> x_ticks = Ticks(a.x_lo, a.x_hi, 8);
  const std::vector<double> y_ticks = Ticks(a.y_lo, a.y_hi, 6);
  for (double x : x_ticks) {
    svg += "<line x1=\"" + ChartCoordinate(a.X(x)) + "\" y1=\"" + ChartCoordinate(kTop) + "\" x2=\"" + ChartCoordinate(a.X(x)) +
           "\" y2=\"" + ChartCoordinate(kTop + a.height) + "\"/>\n";
  }
  for (double y : y_ticks) {
    svg += "<line x1=\"" + ChartCoordinate(kLeft) + "\" y1=\"" + ChartCoordinate(a.Y(y)) + "\" x2=\"" +
           ChartCoordinate(kLeft + a.width) + "\" y2=\"" + ChartCoordinate(a.Y(y)) + "\"/>\n";
  }
  svg += "</g>\n";
  svg += "<g class=\"axes\" stroke=\"black\" stroke-width=\"1\">\n";
  svg += "<line x1=\"" + ChartCoordinate(kLeft) + "\" y1=\"" + ChartCoordinate(kTop + a.height) + "\" x2=\"" +
         ChartCoordinate(kLeft + a.width) + "\" y2=\"" + ChartCoordinate(kTop + a.height) + "\"/>\n";
  svg += "<line x1=\"" + ChartCoordinate(kLeft) + "\" y1=\"" + ChartCoordinate(kTop) + "\" x2=\"" + ChartCoordinate(kLeft) +
         "\" y2=\"" + ChartCoordinate(kTop + a.height) + "\"/>\n";
  svg += "</g>\n";
  svg += "<g class=\"ticks\">\n";
  for (double x : x_ticks) {
    svg += "<text class=\"xtick\" x=\"" + ChartCoordinate(a.X(x)) + "\" y=\"" + ChartCoordinate(kTop + a.height + 16) +
           "\" text-anchor=\"middle\">" + ChartNumber(x) + "</text>\n";
  }
  for (double y : y_ticks) {
    svg += "<text class=\"ytick\" x=\"" + ChartCoordinate(kLeft - 6) + "\" y=\"" + ChartCoordinate(a.Y(y) + 4) +
           "\" text-anchor=\"end\">" + ChartNumber(y) + "</text>\n";
  }
  svg += "</g>\n";
  svg += "<text class=\"xlabel\" x=\"" + ChartCoordinate(kLeft + a.width / 2) + "\" y=\"" + ChartCoordinate(m_height - 14) +
         "\" text-anchor=\"middle\">" + XmlEscape(m_x_label) + "</text>\n";
  svg += "<text class=\"ylabel\" x=\"18\" y=\"" + ChartCoordinate(kTop + a.height / 2) +
         "\" text-anchor=\"middle\" transform=\"rotate(-90 18 " + ChartCoordinate(kTop + a.height / 2) + ")\">" +
         XmlEscape(m_y_label) + "</text>\n";
  return svg;
}

// One polyline per unbroken run of plotted points; a lone point between
// gaps is still shown, as a dot.
std::string SvgPlot::Lines(const Area& a, size_t s) const {
  const char* color = kColors[s % (sizeof kColors / sizeof kColors[0])];
  std::string svg = "<g class=\"series\" fill=\"none\" stroke=\"" + std::string(color) + "\" stroke-width=\"1.5\">\n";
  std::string run;
  size_t run_points = 0;
  auto flush = [&] {
    if (run_points == 1) {
      const size_t comma = run.find(',');
      svg += "<circle cx=\"" + run.substr(0, comma) + "\" cy=\"" + run.substr(comma + 1) + "\" r=\"1.5\" fill=\"" +
             color + "\"/>\n";
    } else if (run_points > 1) {
      svg += "<polyline points=\"" + run + "\"/>\n";
    }
    run.clear();
    run_points = 0;
  };
  for (const auto& point : m_series[s].points) {
    if (!Plotted(point.first, point.second)) {
      flush();
      continue;
    }
    run += (run.empty() ? "" : " ") + ChartCoordinate(a.X(point.first)) + "," + ChartCoordinate(a.Y(point.second));
    ++run_points;
  }
  flush();
  return svg + "</g>\n";
}

std::string SvgPlot::Legend(const Area& a) const {
  std::string svg = "<g class=\"legend\">\n";
  for (size_t s = 0; s < m_series.size(); ++s) {
    const char* color = kColors[s % (sizeof kColors / sizeof kColors[0])];
    const double y = kTop + 10 + 20.0 * static_cast<double>(s);
    const double x = kLeft + a.width + 16;
    svg += "<line x1=\"" + ChartCoordinate(x) + "\" y1=\"" + ChartCoordinate(y) + "\" x2=\"" + ChartCoordinate(x + 24) + "\" y2=\"" +
           ChartCoordinate(y) + "\" stroke=\"" + color + "\" stroke-width=\"2\"/>\n";
    svg += "<text x=\"" + ChartCoordinate(x + 30) + "\" y=\"" + ChartCoordinate(y + 4) + "\">" + XmlEscape(m_series[s].name) +
           "</text>\n";
  }
  return svg + "</g>\n";
}

std::string SvgPlot::Render() const {
  const Area area = Bounds();
  std::string svg;
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(m_width) + "\" height=\"" +
         std::to_string(m_height) + "\" viewBox=\"0 0 " + std::to_string(m_width) + " " + std::to_string(m_height) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  if (!m_title.empty()) {
    svg += "<text class=\"title\" x=\"" + ChartCoordinate(kLeft + area.width / 2) +
           "\" y=\"24\" text-anchor=\"middle\" font-size=\"15\">" + XmlEscape(m_title) + "</text>\n";
  }
  svg += Axes(area);
  for (size_t s = 0; s < m_series.size(); ++s) svg += Lines(area, s);
  svg += Legend(area);
  return svg + "</svg>\n";
}

}  // namespace semhost
