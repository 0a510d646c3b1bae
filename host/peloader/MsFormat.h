#pragma once
// printf-style formatting with the Windows runtime's (msvcrt's) rules, for
// the shims of its printf families:
// - in the narrow family %s and %c take 8-bit text and %S and %C 16-bit text;
//   in the wide family it is the other way round; an `l` or `w` size always
//   means 16-bit text and an `h` size 8-bit text;
// - sizes I64 (64-bit), I32 and I (32-bit) are understood, and `L` reads a
//   double, as Windows' long double is one;
// - %p prints 8 upper-case hexadecimal digits;
// - a null text prints "(null)".
// Results are UTF-8; 16-bit text is converted on the way. Numbers follow the
// C library's formatting otherwise.

#include <stdarg.h>

#include <string>

namespace peloader {

class MsFormat {
 public:
  static std::string Narrow(const char* format, va_list args);
  static std::string Wide(const char16_t* format, va_list args);
};

}  // namespace peloader
