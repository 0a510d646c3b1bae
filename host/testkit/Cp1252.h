#pragma once
// The Windows Western code page (1252), in which modules hand their texts to
// the host: the one table that the PE32 loader's shims and semhost's text
// conversions both read. Bytes below 0x80 and from 0xA0 on are the code
// points of the same value; bytes 0x80 to 0x9F are below.

#include <stdint.h>

namespace setest {

// The code point of byte 0x80 + i. The five bytes the code page leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) hold the C1 control of the same
// value, as the system's conversions do; Cp1252Assigned tells them apart.
constexpr char16_t kCp1252From80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The code point of a byte of code page 1252.
constexpr char16_t Cp1252ToUnicode(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCp1252From80[byte - 0x80] : static_cast<char16_t>(byte);
}

// False for the five bytes the code page leaves unassigned.
constexpr bool Cp1252Assigned(unsigned char byte) {
  return !(byte >= 0x80 && byte < 0xA0) || kCp1252From80[byte - 0x80] != byte;
}

}  // namespace setest
