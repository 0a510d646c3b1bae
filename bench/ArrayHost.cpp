#include "ArrayHost.h"

#include <string.h>

namespace sebench {

ArrayHostState g_array_host = {{0, 0, 0, 0}, 0};

namespace {

constexpr int32_t kGetPinValue = 14;  // GUI_HC_GET_PIN_VALUE; HC_GET_PIN_COUNT on the audio side
constexpr int32_t kSetPinValue = 15;  // GUI_HC_SET_PIN_VALUE
constexpr int32_t kGetSampleClock = 3;  // HC_GET_SAMPLE_CLOCK

}  // namespace

se_ret_t ArrayHostCallback(void*, int32_t opcode, int32_t index, int32_t, void* ptr, float opt) {
  uint32_t& pin = g_array_host.pins[static_cast<uint32_t>(index) & 3u];
  switch (opcode) {
    case kGetPinValue:
      if (ptr) memcpy(ptr, &pin, sizeof pin);
      return 0;
    case kSetPinValue:
      memcpy(&pin, &opt, sizeof pin);
      return 0;
    case kGetSampleClock:
      return static_cast<se_ret_t>(g_array_host.clock);
    default:
      return 0;
  }
}

void SetPinFloat(int32_t pin, float value) { memcpy(&g_array_host.pins[pin & 3], &value, 4); }
void SetPinInt(int32_t pin, int32_t value) { memcpy(&g_array_host.pins[pin & 3], &value, 4); }

float PinFloat(int32_t pin) {
  float value;
  memcpy(&value, &g_array_host.pins[pin & 3], 4);
  return value;
}

}  // namespace sebench
