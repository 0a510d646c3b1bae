#pragma once
// The one progress line of a long run, on stderr: "render: 1.5 of 3.0 s (50%)",
// rewritten in place at most once per percent and cleared at the end. Shown
// only where the caller says a terminal will see it.

#include <stdint.h>

#include <string>

namespace semhost {

class Progress {
 public:
  Progress(std::string label, bool show) : m_label(std::move(label)), m_show(show) {}
  // `text` says how far the run is ("517 of 2000 points").
  void Update(int64_t done, int64_t total, const std::string& text);
  bool shown() const { return m_show; }

 private:
  std::string m_label;
  bool m_show;
  int m_last = -1;
};

}  // namespace semhost
