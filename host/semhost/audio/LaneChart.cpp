#include "LaneChart.h"

#include <stdio.h>

#include <cmath>

#include "SvgPlot.h"
#include "Text.h"

namespace semhost {

namespace {

constexpr int kLeft = 80;
constexpr int kRight = 200;  // room for the legends
constexpr int kTop = 60;     // the title and the marks' labels
constexpr int kLaneHeight = 140;
constexpr int kGap = 16;
constexpr int kBottom = 50;

// The stroke of a style: colour, then width.
std::string Stroke(LaneChart::Style style) {
  switch (style) {
    case LaneChart::Style::kFaint: return "stroke=\"#b8b8b8\" stroke-width=\"1\"";
    case LaneChart::Style::kMain: return "stroke=\"#1f77b4\" stroke-width=\"1.2\"";
    case LaneChart::Style::kSecond: return "stroke=\"#ff7f0e\" stroke-width=\"1.2\"";
    case LaneChart::Style::kDifference: return "stroke=\"#d62728\" stroke-width=\"1.2\"";
  }
  return "";
}

}  // namespace

LaneChart::LaneChart(double seconds, int width) : m_seconds(seconds > 0 ? seconds : 1.0), m_width(width) {}

size_t LaneChart::AddLane(const std::string& label) {
  m_lanes.push_back({label, {}});
  return m_lanes.size() - 1;
}

void LaneChart::AddSeries(size_t lane, const std::string& name, Style style, std::vector<std::pair<double, double>> points) {
  if (lane < m_lanes.size()) m_lanes[lane].series.push_back({name, style, std::move(points)});
}

void LaneChart::AddMark(double seconds, const std::string& label) { m_marks.push_back({seconds, label}); }

double LaneChart::X(double seconds) const { return kLeft + seconds / m_seconds * (m_width - kLeft - kRight); }

std::string LaneChart::Lines(const Series& series, double lo, double hi, double top) const {
  std::string svg, points;
  const auto flush = [&]() {
    if (!points.empty()) svg += "<polyline fill=\"none\" " + Stroke(series.style) + " points=\"" + points + "\"/>\n";
    points.clear();
  };
  for (const auto& p : series.points) {
    if (!std::isfinite(p.second)) {
      flush();
      continue;
    }
    const double y = top + kLaneHeight - (p.second - lo) / (hi - lo) * kLaneHeight;
    points += (points.empty() ? "" : " ") + ChartCoordinate(X(p.first)) + "," + ChartCoordinate(y);
  }
  flush();
  return svg;
}

std::string LaneChart::Legend(const Lane& lane, double top) const {
  std::string svg;
  double y = top + 14;
  for (const Series& s : lane.series) {
    const std::string x = ChartCoordinate(m_width - kRight + 12);
    svg += "<line x1=\"" + x + "\" y1=\"" + ChartCoordinate(y - 4) + "\" x2=\"" + ChartCoordinate(m_width - kRight + 32) + "\" y2=\"" + ChartCoordinate(y - 4) +
           "\" " + Stroke(s.style) + "/>\n";
    svg += "<text x=\"" + ChartCoordinate(m_width - kRight + 38) + "\" y=\"" + ChartCoordinate(y) + "\" font-size=\"11\">" + XmlEscape(s.name) +
           "</text>\n";
    y += 16;
  }
  return svg;
}

std::string LaneChart::LaneSvg(const Lane& lane, double top) const {
  double lo = INFINITY, hi = -INFINITY;
  for (const Series& s : lane.series) {
    for (const auto& p : s.points) {
      if (std::isfinite(p.second)) lo = std::fmin(lo, p.second), hi = std::fmax(hi, p.second);
    }
  }
  if (!(lo < hi)) {  // one value or none: an axis with a length around it
    const double centre = std::isfinite(lo) ? lo : 0.0, pad = centre == 0.0 ? 1.0 : std::fabs(centre) * 0.1;
    lo = centre - pad, hi = centre + pad;
  }
  const std::string width = ChartCoordinate(m_width - kLeft - kRight);
  std::string svg = "<g class=\"lane\">\n<rect x=\"" + ChartCoordinate(kLeft) + "\" y=\"" + ChartCoordinate(top) + "\" width=\"" + width +
                    "\" height=\"" + ChartCoordinate(kLaneHeight) + "\" fill=\"#fafafa\" stroke=\"#888\"/>\n";
  svg += "<text class=\"lane-label\" x=\"" + ChartCoordinate(kLeft + 6) + "\" y=\"" + ChartCoordinate(top + 14) + "\" font-size=\"12\">" +
         XmlEscape(lane.label) + "</text>\n";
  svg += "<text x=\"" + ChartCoordinate(kLeft - 6) + "\" y=\"" + ChartCoordinate(top + 10) + "\" text-anchor=\"end\" font-size=\"11\">" +
         ChartNumber(hi) + "</text>\n";
  svg += "<text x=\"" + ChartCoordinate(kLeft - 6) + "\" y=\"" + ChartCoordinate(top + kLaneHeight) + "\" text-anchor=\"end\" font-size=\"11\">" +
         ChartNumber(lo) + "</text>\n";
  for (const Series& s : lane.series) svg += Lines(s, lo, hi, top);
  return svg + Legend(lane, top) + "</g>\n";
}

std::string LaneChart::TimeAxis(double bottom) const {
  std::string svg;
  for (double t : SvgPlot::Ticks(0.0, m_seconds, 8)) {
    if (t < 0.0 || t > m_seconds) continue;
    svg += "<line x1=\"" + ChartCoordinate(X(t)) + "\" y1=\"" + ChartCoordinate(bottom) + "\" x2=\"" + ChartCoordinate(X(t)) + "\" y2=\"" + ChartCoordinate(bottom + 5) +
           "\" stroke=\"#444\"/>\n<text x=\"" + ChartCoordinate(X(t)) + "\" y=\"" + ChartCoordinate(bottom + 18) +
           "\" text-anchor=\"middle\" font-size=\"11\">" + ChartNumber(t) + "</text>\n";
  }
  return svg + "<text x=\"" + ChartCoordinate((kLeft + m_width - kRight) / 2.0) + "\" y=\"" + ChartCoordinate(bottom + 38) +
         "\" text-anchor=\"middle\" font-size=\"12\">time (s)</text>\n";
}

std::string LaneChart::Marks(double bottom) const {
  std::string svg;
  for (size_t i = 0; i < m_marks.size(); ++i) {
    const std::string x = ChartCoordinate(X(m_marks[i].seconds));
    const double label_y = kTop - 6 - static_cast<double>(i % 2) * 14;  // neighbours alternate rows
    svg += "<g class=\"mark\">\n<line x1=\"" + x + "\" y1=\"" + ChartCoordinate(kTop) + "\" x2=\"" + x + "\" y2=\"" + ChartCoordinate(bottom) +
           "\" stroke=\"#2ca02c\" stroke-dasharray=\"4,3\"/>\n<text x=\"" + x + "\" y=\"" + ChartCoordinate(label_y) +
           "\" font-size=\"11\" fill=\"#2ca02c\">" + XmlEscape(m_marks[i].label) + "</text>\n</g>\n";
  }
  return svg;
}

std::string LaneChart::Render() const {
  const double bottom = kTop + static_cast<double>(m_lanes.size()) * (kLaneHeight + kGap) - kGap;
  const int height = static_cast<int>(bottom) + kBottom;
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(m_width) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
                    std::to_string(m_width) + " " + std::to_string(height) + "\" font-family=\"sans-serif\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<text x=\"" + ChartCoordinate(m_width / 2.0) + "\" y=\"20\" text-anchor=\"middle\" font-size=\"15\">" + XmlEscape(m_title) +
         "</text>\n";
  for (size_t i = 0; i < m_lanes.size(); ++i) {
    svg += LaneSvg(m_lanes[i], kTop + static_cast<double>(i) * (kLaneHeight + kGap));
  }
  return svg + TimeAxis(bottom) + Marks(bottom) + "</svg>\n";
}

}  // namespace semhost
