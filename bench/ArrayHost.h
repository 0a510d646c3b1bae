#pragma once
// The benchmarks' host: the smallest callback that answers a module's pin
// reads and writes from an array. It lives in its own translation unit so the
// compiler sees through it neither in the framework path nor in the floor.

#include <stdint.h>

#include "se_boundary.h"

namespace sebench {

// What the host carries: the 4-byte value of each pin ("Mode", "X", "Result"
// and one spare) and the sample clock.
struct ArrayHostState {
  uint32_t pins[4];
  uint32_t clock;
};

extern ArrayHostState g_array_host;

// GUI_HC_GET_PIN_VALUE copies the pin's 4 bytes into `ptr` (with a null ptr it
// is the audio side's HC_GET_PIN_COUNT and answers 0 pins); GUI_HC_SET_PIN_VALUE
// stores `opt`; HC_GET_SAMPLE_CLOCK answers the clock; everything else 0.
se_ret_t ArrayHostCallback(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);

void SetPinFloat(int32_t pin, float value);
void SetPinInt(int32_t pin, int32_t value);
float PinFloat(int32_t pin);

}  // namespace sebench
