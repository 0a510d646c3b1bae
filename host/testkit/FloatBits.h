#pragma once
// A 32-bit float and its bit pattern, both ways, without aliasing tricks:
// pins, `opt` arguments and trace entries carry floats as 4-byte words.

#include <stdint.h>
#include <string.h>

namespace setest {

inline uint32_t FloatBits(float f) {
  uint32_t bits;
  memcpy(&bits, &f, sizeof bits);
  return bits;
}

inline float BitsFloat(uint32_t bits) {
  float f;
  memcpy(&f, &bits, sizeof f);
  return f;
}

}  // namespace setest
