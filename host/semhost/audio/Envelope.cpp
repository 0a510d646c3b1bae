#include "Envelope.h"

#include <cmath>

namespace semhost {

Envelope::Envelope(int32_t rate, int64_t stretch) : m_rate(rate > 0 ? rate : 1), m_stretch(stretch > 0 ? stretch : 1) {}

void Envelope::Add(float sample) {
  if (!std::isfinite(sample)) m_broken = true;
  if (m_count == 0 || sample < m_low) m_low = sample;
  if (m_count == 0 || sample > m_high) m_high = sample;
  ++m_count;
  if (m_count == m_stretch) Finish();
}

void Envelope::Finish() {
  if (m_count == 0) return;
  const double t = static_cast<double>(m_frame) / m_rate;  // the stretch's first frame
  if (m_broken) {
    m_points.push_back({t, NAN});
  } else {
    m_points.push_back({t, m_low});
    if (m_count > 1) m_points.push_back({t, m_high});
  }
  m_frame += m_count;
  m_count = 0;
  m_broken = false;
}

}  // namespace semhost
