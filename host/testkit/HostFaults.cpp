#include "HostFaults.h"

#include <algorithm>
#include <string>

namespace setest {

HostFaults::HostFaults(sehost::StandInHost& host)
    : m_host(host),
      m_override(host.OverrideAnswer([this](const sehost::TraceEntry& call, void* ptr, sehost::CallbackAnswer& answer) {
        Answer(call, ptr, answer);
      })) {}

void HostFaults::Answer(const sehost::TraceEntry& call, void* ptr, sehost::CallbackAnswer& answer) const {
  if (call.side != sehost::Side::kGui) return;
  if (call.opcode == GUI_HC_GET_PIN_TEXT && null_text) return answer.Give(0);
  if (call.opcode != GUI_HC_GET_PIN_TEXT_W || !(wide_count_override || wide_text_without_nul)) return;
  const std::u16string& text = m_host.Pin(call.index).wide_text;
  const int32_t value = call.value;
  if (ptr && value > 0) {
    char16_t* out = static_cast<char16_t*>(ptr);
    if (wide_text_without_nul) {
      // The text over and over, to the last character of the count.
      for (int32_t i = 0; i < value; ++i) out[i] = text.empty() ? u'?' : text[static_cast<size_t>(i) % text.size()];
    } else {
      const size_t n = std::min(static_cast<size_t>(value) - 1, text.size());
      std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), out);
      out[n] = u'\0';
    }
  }
  answer.Give(wide_count_override ? wide_count : static_cast<int32_t>(text.size() + 1));
}

}  // namespace setest
