#pragma once
// Audio half of the math module: declares the module's three pins, all of
// them GUI pins, and installs a process function that sends one host call.

#include <stdint.h>

#include "MathPins.h"
#include "SEModule_base.h"

class Module : public SEModule_base, public MathPins {
 public:
  Module(SEHostCallback seaudioMaster, int32_t host_context);  // makes no host call
  ~Module() override;

  // Switches to Process (telling the host), then binds the pins.
  void Open() override;
  // Pins 0 "Mode", 1 "X", 2 "Result" (MathPins::kPins); writes only the fields
  // of that pin's declaration, and nothing at all for any other index.
  bool GetPinProperties(int32_t index, SEPinProperties* properties) override;

  // The process function: host callback opcode 10 (HC_CODE_10), everything else zero.
  void Process(int32_t buffer_offset, int32_t sample_frames);
};
