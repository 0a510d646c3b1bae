#pragma once
// GUI half of the math module: on every pin change it reads "Mode" and "X"
// through the host and writes cos, sin, sqrt or tan of X to "Result".

#include <stdint.h>

#include "SEGUI_base.h"

class GuiModule : public SEGUI_base {
 public:
  // Pin indices, shared with the audio half's declarations.
  enum Pin : int32_t { PIN_MODE = 0, PIN_X = 1, PIN_RESULT = 2 };
  // Values of "Mode", the items of its list "cos,sin,sqrt,tan".
  enum Mode : int16_t { MODE_COS = 0, MODE_SIN = 1, MODE_SQRT = 2, MODE_TAN = 3 };

  // Reads "Mode", then "X", through the host; computes and writes nothing.
  GuiModule(SEHostCallback seaudioMaster, int32_t host_context);
  ~GuiModule() override;

  // One evaluation per notification, unless one is already running on this
  // instance (a notification from inside its own host call is dropped).
  void OnPinValueChange(GuiPin* pin) override;

 private:
  float m_x;          // "X" as last read
  float m_result;     // the value last written to "Result"
  bool m_busy;        // true while an evaluation runs
  int16_t m_mode;     // low 16 bits of "Mode"
};
