#pragma once
// GUI half of the math module: on every pin change it reads "Mode" and "X"
// through the host and writes cos, sin, sqrt or tan of X to "Result".

#include <stdint.h>

#include "MathPins.h"
#include "SEGUI_base.h"

// The pins are MathPins', the table the audio half declares them from.
class GuiModule : public SEGUI_base, public MathPins {
 public:
  // Reads "Mode", then "X", through the host; computes and writes nothing,
  // also when the host notifies the half from inside those reads.
  GuiModule(SEHostCallback seaudioMaster, int32_t host_context);
  ~GuiModule() override;

  // One evaluation per notification, unless one is already running on this
  // instance (a notification from inside its own host call is dropped).
  void OnPinValueChange(GuiPin* pin) override;

 private:
  float m_x;          // "X" as last read
  float m_result;     // the value last written to "Result"
  bool m_busy;        // true while an evaluation or the construction runs
  int16_t m_mode;     // low 16 bits of "Mode"
};
