#pragma once
// One signal reduced for a chart, sample by sample: each stretch of equal
// length gives its lowest and highest sample, so peaks stay visible however
// long the signal; a stretch with a NaN or an infinity gives a NaN point,
// which breaks the line there. Points are (seconds, value).

#include <stdint.h>

#include <utility>
#include <vector>

namespace semhost {

class Envelope {
 public:
  // Stretches of `stretch` frames at `rate` Hz.
  Envelope(int32_t rate, int64_t stretch);
  // The stretch that keeps `total` frames to about 1000 stretches (1 for up to 2000 frames).
  static int64_t StretchFor(int64_t total) { return total > 2000 ? (total + 999) / 1000 : 1; }

  void Add(float sample);
  // Ends the stretch under way; the points are complete after it.
  void Finish();
  const std::vector<std::pair<double, double>>& points() const { return m_points; }

 private:
  int32_t m_rate;
  int64_t m_stretch;
  std::vector<std::pair<double, double>> m_points;
  int64_t m_frame = 0;  // the first frame of the current stretch
  int64_t m_count = 0;  // samples of the current stretch seen
  float m_low = 0.0f, m_high = 0.0f;
  bool m_broken = false;  // the stretch holds a value that is not finite
};

}  // namespace semhost
