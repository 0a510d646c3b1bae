#include "GuiModule.h"

#include "RuntimeMath.h"

GuiModule::GuiModule(SEHostCallback callback, int32_t host_context)
    : SEGUI_base(callback, host_context), m_x(0.0f), m_result(0.0f), m_busy(true), m_mode(0) {
  // Busy until both reads are done: a notification the host sends from inside
  // them is dropped, so construction evaluates nothing and writes no pin.
  m_mode = static_cast<int16_t>(GetPin(PIN_MODE)->GetValueInt());
  m_x = GetPin(PIN_X)->GetValueFloat();
  m_busy = false;
}

GuiModule::~GuiModule() = default;

void GuiModule::OnPinValueChange(GuiPin* pin) {
  if (m_busy) return;
  m_busy = true;

  if (pin->m_index == PIN_MODE) {
    m_mode = static_cast<int16_t>(GetPin(PIN_MODE)->GetValueInt());
  } else if (pin->m_index == PIN_X) {
    m_x = GetPin(PIN_X)->GetValueFloat();
  }

  if (m_mode < MODE_COS || m_mode > MODE_TAN) {
    m_busy = false;
    return;
  }

  // Every evaluation works on a fresh read of "X", even right after one.
  m_x = GetPin(PIN_X)->GetValueFloat();
  const double x = m_x;
  double y = 0.0;
  switch (m_mode) {
    case MODE_COS: y = RuntimeCos(x); break;
    case MODE_SIN: y = RuntimeSin(x); break;
    case MODE_SQRT: y = RuntimeSqrt(x); break;
    default: y = RuntimeTan(x); break;
  }
  m_result = static_cast<float>(y);
  GetPin(PIN_RESULT)->SetValueFloat(m_result);

  m_busy = false;
}
