#include "SeededRandom.h"

#include <math.h>

namespace setest {

uint64_t SeededRandom::Next() {
  uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int32_t SeededRandom::Between(int32_t lo, int32_t hi) {
  return static_cast<int32_t>(lo + static_cast<int64_t>(Next() % (static_cast<uint64_t>(hi - lo) + 1)));
}

float SeededRandom::Float() {
  static const float kSpecial[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1.5707964f, 3.1415927f, 1e-40f, -1e-40f,
                                   1e30f, -1e30f, 3.4028235e38f, INFINITY, -INFINITY, NAN};
  if (Below(3) == 0) return kSpecial[Below(sizeof kSpecial / sizeof kSpecial[0])];
  return static_cast<float>((static_cast<double>(Next() >> 11) / 9007199254740992.0 - 0.5) * 20.0);
}

}  // namespace setest
