#include "Progress.h"

#include <stdio.h>

namespace semhost {

void Progress::Update(int64_t done, int64_t total, const std::string& text) {
  if (!m_show || total <= 0) return;
  const int percent = static_cast<int>(done * 100 / total);
  if (percent == m_last) return;
  m_last = percent;
  fprintf(stderr, "\r%s: %s (%d%%)", m_label.c_str(), text.c_str(), percent);
  if (done >= total) fprintf(stderr, "\r%70s\r", "");
  fflush(stderr);
}

}  // namespace semhost
