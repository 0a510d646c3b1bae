#include "GuiPin.h"

#include <string.h>

#include <new>

#include "SEGUI_base.h"

void GuiPin::SetValueText(const std::string& text) const {
  m_module->CallHost(GUI_HC_SET_PIN_TEXT, m_index, 0, const_cast<char*>(text.c_str()), 0.0f);
}

std::string GuiPin::GetValueText() const {
  const se_ret_t address = m_module->CallHost(GUI_HC_GET_PIN_TEXT, m_index, 0, nullptr, 0.0f);
  const char* text = reinterpret_cast<const char*>(address);
  return text ? std::string(text) : std::string();
}

SEWideString GuiPin::GetValueTextW() const {
  const se_ret_t answer = m_module->CallHost(GUI_HC_GET_PIN_TEXT_W, m_index, 0, nullptr, 0.0f);
  if (answer <= 0) return SEWideString();
  // The count goes back to the host as a 32-bit value; a larger answer is cut
  // to what that value can carry.
  const int32_t count = answer > INT32_MAX ? INT32_MAX : static_cast<int32_t>(answer);
  // A count no string can hold (on 32-bit targets) fails like a buffer the
  // heap cannot give: the standard allocation failure.
  if (static_cast<size_t>(count) > SEWideString().max_size()) throw std::bad_alloc();
  SEWideString buffer(static_cast<size_t>(count), SE_WIDE('\0'));  // zeroed: a short write still ends in NUL
  m_module->CallHost(GUI_HC_GET_PIN_TEXT_W, m_index, count, &buffer[0], 0.0f);
  const size_t end = buffer.find(SE_WIDE('\0'));
  if (end != SEWideString::npos) buffer.resize(end);
  return buffer;
}
