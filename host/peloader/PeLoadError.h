#pragma once
// Why a PE image could not be loaded: a malformed or unsupported file, an
// import that no shim provides, or an entry point that refused the load.

#include <stdint.h>

#include <stdexcept>
#include <string>

namespace peloader {

class PeLoadError : public std::runtime_error {
 public:
  explicit PeLoadError(const std::string& what) : std::runtime_error(what) {}
  // "<file_name>: <why>", the form of every refusal of a file.
  PeLoadError(const std::string& file_name, const std::string& why) : std::runtime_error(file_name + ": " + why) {}

  // "0x1a2b": how refusals write addresses and sizes.
  static std::string Hex(uint64_t value) {
    static const char kDigits[] = "0123456789abcdef";
    std::string digits;
    do {
      digits.insert(digits.begin(), kDigits[value & 0xF]);
      value >>= 4;
    } while (value);
    return "0x" + digits;
  }
};

}  // namespace peloader
