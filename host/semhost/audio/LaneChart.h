#pragma once
// An SVG chart of signals over time in lanes stacked one above the other,
// sharing one time axis: each lane has its own label, its own value range
// (the finite values of its series) and its own series, drawn in the order
// added, so the last one is on top. A mark is a vertical line across every
// lane at one time, with a label at its top. Every lane is a
// <g class="lane">, every mark a <g class="mark">, so a reader (or a test)
// can count them.

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

namespace semhost {

class LaneChart {
 public:
  enum class Style {
    kFaint,       // light grey, thin: a reference behind the others
    kMain,        // blue
    kSecond,      // orange
    kDifference,  // red
  };

  // A chart of `seconds` seconds (the time axis' length).
  explicit LaneChart(double seconds, int width = 960);

  void SetTitle(const std::string& title) { m_title = title; }
  // A new lane below the others; answers its number.
  size_t AddLane(const std::string& label);
  // `points` are (seconds, value); a NaN or infinite value breaks the line.
  void AddSeries(size_t lane, const std::string& name, Style style, std::vector<std::pair<double, double>> points);
  void AddMark(double seconds, const std::string& label);

  std::string Render() const;

 private:
  struct Series {
    std::string name;
    Style style;
    std::vector<std::pair<double, double>> points;
  };
  struct Lane {
    std::string label;
    std::vector<Series> series;
  };
  struct Mark {
    double seconds;
    std::string label;
  };
  double X(double seconds) const;
  std::string LaneSvg(const Lane& lane, double top) const;
  std::string Lines(const Series& series, double lo, double hi, double top) const;
  std::string Legend(const Lane& lane, double top) const;
  std::string TimeAxis(double bottom) const;
  std::string Marks(double bottom) const;

  double m_seconds;
  int m_width;
  std::string m_title;
  std::vector<Lane> m_lanes;
  std::vector<Mark> m_marks;
};

}  // namespace semhost
