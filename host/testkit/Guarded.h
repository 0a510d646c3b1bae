#pragma once
// A record of type T in the middle of guard bytes, to see whether code handed
// its address writes outside it. The record starts zeroed (or filled with a
// byte of the caller's choice); the guard bytes hold kGuard.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

namespace setest {

template <class T>
class Guarded {
 public:
  static constexpr uint8_t kGuard = 0xA5;
  static constexpr size_t kGuardBytes = 64;

  explicit Guarded(uint8_t fill = 0) : m_bytes(kGuardBytes * 2 + sizeof(T), kGuard) {
    memset(bytes(), fill, sizeof(T));
  }
  T* get() { return reinterpret_cast<T*>(bytes()); }
  unsigned char* bytes() { return m_bytes.data() + kGuardBytes; }
  const unsigned char* bytes() const { return m_bytes.data() + kGuardBytes; }

  // "" when every guard byte is intact, else where the first write landed.
  std::string Overrun() const {
    for (size_t i = 0; i < kGuardBytes; ++i) {
      if (m_bytes[kGuardBytes - 1 - i] != kGuard) return std::to_string(i + 1) + " byte(s) before the record";
    }
    for (size_t i = 0; i < kGuardBytes; ++i) {
      if (m_bytes[kGuardBytes + sizeof(T) + i] != kGuard) {
        return "byte " + std::to_string(sizeof(T) + i) + ", " + std::to_string(i + 1) +
               " byte(s) past the end of the " + std::to_string(sizeof(T)) + "-byte record";
      }
    }
    return "";
  }

 private:
  std::vector<unsigned char> m_bytes;
};

}  // namespace setest
