#pragma once
// The floating-point environment a call must leave as it found it: the
// rounding mode, the exception masks, the SSE control word (MXCSR: masks,
// rounding, flush-to-zero, denormals-are-zero) and on x86 the x87 control
// word (masks, precision, rounding). Exception flags are not part of it: a
// computation may raise them.

#include <stdint.h>

#include <string>

namespace semhost {

struct FpEnvironment {
  int rounding = 0;        // fegetround()
  bool has_mxcsr = false;  // x86 with SSE
  uint32_t mxcsr = 0;      // control bits only (the six flag bits cleared)
  bool has_x87 = false;    // x86
  uint16_t x87 = 0;        // the x87 control word

  static FpEnvironment Capture();
  // Sets every part (flags left alone).
  void Apply() const;
  bool operator==(const FpEnvironment& other) const;
  bool operator!=(const FpEnvironment& other) const { return !(*this == other); }

  // A non-default environment that still runs every computation without a
  // trap: rounding toward zero, flush-to-zero and denormals-are-zero, x87
  // double precision. A module that resets the environment instead of
  // restoring it shows up when called under it.
  static FpEnvironment Unusual();

  // "rounding mode toward zero (was to nearest); MXCSR 0x9F80 (was 0x1F80)".
  static std::string Difference(const FpEnvironment& before, const FpEnvironment& after);
  std::string Describe() const;
};

std::string RoundingName(int rounding);

}  // namespace semhost
