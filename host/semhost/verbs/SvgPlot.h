#pragma once
// A small SVG line chart: axes with labels and ticks, one polyline per
// series, a legend. Points whose value is NaN or infinite (or outside a fixed
// y range) are left out and break the line there, so a gap shows where the
// function has no finite value instead of a line drawn through it.

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

namespace semhost {

class SvgPlot {
 public:
  SvgPlot(int width = 800, int height = 480);

  void SetTitle(const std::string& title) { m_title = title; }
  void SetXLabel(const std::string& label) { m_x_label = label; }
  void SetYLabel(const std::string& label) { m_y_label = label; }
  // Fixes the y axis to [lo, hi]; points outside it are left out. Without it
  // the axis spans every finite value.
  void SetYRange(double lo, double hi);
  void AddSeries(const std::string& name, std::vector<std::pair<double, double>> points);

  // The whole document.
  std::string Render() const;
  // Points left out of the lines: not finite, or outside a fixed y range.
  size_t OmittedPoints() const;
  size_t SeriesCount() const { return m_series.size(); }

  // Tick positions at 1, 2 or 5 times a power of ten, about `target` of them,
  // covering [lo, hi] (lo < hi).
  static std::vector<double> Ticks(double lo, double hi, int target = 6);

 private:
  // The plotted area: the axes' ranges and the area's size in pixels.
  struct Area {
    double x_lo, x_hi, y_lo, y_hi;
    double width, height;
    double X(double x) const;  // pixel of a value
    double Y(double y) const;
  };
  Area Bounds() const;
  std::string Axes(const Area& area) const;
  std::string Lines(const Area& area, size_t series) const;
  std::string Legend(const Area& area) const;

  struct Series {
    std::string name;
    std::vector<std::pair<double, double>> points;
  };
  bool Plotted(double x, double y) const;

  int m_width;
  int m_height;
  std::string m_title;
  std::string m_x_label;
  std::string m_y_label;
  bool m_fixed_y = false;
  double m_y_lo = 0.0;
  double m_y_hi = 0.0;
  std::vector<Series> m_series;
};

// Text safe inside an XML element or attribute.
std::string XmlEscape(const std::string& text);

}  // namespace semhost
