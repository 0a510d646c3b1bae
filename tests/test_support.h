#pragma once
// Helpers shared by the tests.

#include <stdint.h>
#include <string.h>

#include <string>

#include "FloatBits.h"

// A death-test pattern matching the runtime's report of a failed framework
// assertion with exactly this expression text and file label.
inline std::string AssertionPattern(const std::string& expression, const std::string& file_label) {
  auto escape = [](const std::string& text) {
    std::string out;
    for (char c : text) {
      if (strchr("\\^$.|?*+()[]{}", c)) out += '\\';
      out += c;
    }
    return out;
  };
#ifdef _WIN32
  return "Assertion failed: " + escape(expression) + ", file " + escape(file_label);
#else
  return escape(file_label) + ":[0-9]+: .*Assertion `" + escape(expression) + "' failed";
#endif
}

using setest::BitsFloat;
using setest::FloatBits;

// A signalling NaN with a payload: an x87 load of it would give 0x7FE00001
// and raise the invalid-operation flag.
constexpr uint32_t kSignallingNanBits = 0x7FA00001u;

// Reads a little-endian 32-bit word at `offset` bytes into `base`.
inline uint32_t WordAt(const void* base, size_t offset) {
  uint32_t word;
  memcpy(&word, static_cast<const unsigned char*>(base) + offset, sizeof word);
  return word;
}
