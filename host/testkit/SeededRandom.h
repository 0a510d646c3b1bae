#pragma once
// A small random source with a fixed definition (splitmix64), so a seed
// replays the same sequence on every platform and standard library.

#include <stdint.h>

namespace setest {

class SeededRandom {
 public:
  explicit SeededRandom(uint64_t seed) : m_state(seed) {}
  uint64_t Next();
  // 0 to n - 1 (n > 0).
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  // lo to hi, both included (lo <= hi).
  int32_t Between(int32_t lo, int32_t hi);
  // A float: a third of the time one of the values that break arithmetic
  // (zeros, denormals, the largest finite value, infinities, NaN, π/2), else
  // uniform in [-10, 10).
  float Float();

 private:
  uint64_t m_state;
};

}  // namespace setest
