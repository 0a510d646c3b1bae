#pragma once
// The math module's pins: one table that both halves use. The audio half
// declares the pins from it; the GUI half addresses them by the same indices.

#include <stdint.h>

#include "SEPinProperties.h"

struct MathPins {
  // Pin indices, in declaration order.
  enum Pin : int32_t { PIN_MODE = 0, PIN_X = 1, PIN_RESULT = 2, PIN_COUNT = 3 };
  // Values of "Mode", the items of its list "cos,sin,sqrt,tan".
  enum Mode : int16_t { MODE_COS = 0, MODE_SIN = 1, MODE_SQRT = 2, MODE_TAN = 3 };

  // What the audio half writes into a pin's SEPinProperties; a null `choices`
  // leaves datatype_extra as the host gave it.
  struct Declaration {
    const char* name;
    int32_t direction;
    int32_t datatype;
    const char* choices;
    int32_t flags;
  };
  static constexpr Declaration kPins[PIN_COUNT] = {
      {"Mode", DR_IN, DT_ENUM, "cos,sin,sqrt,tan", IO_UI_COMMUNICATION},
      {"X", DR_IN, DT_FLOAT, nullptr, IO_UI_COMMUNICATION},
      {"Result", DR_OUT, DT_FLOAT, nullptr, IO_UI_COMMUNICATION},
  };
};
