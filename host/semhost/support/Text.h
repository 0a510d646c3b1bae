#pragma once
// Text helpers shared by semhost's outputs: module texts made printable and
// numbers written the same way everywhere, so outputs can be compared.

#include <stdint.h>

#include <string>

namespace semhost {

// A module's 8-bit text (Windows Western code page) as UTF-8, with control
// characters written as \n, \t or \xNN. A null pointer reads "(null)".
std::string Printable(const char* text, bool keep_newlines = false);

// The same conversion without escapes, for JSON (which escapes by itself).
std::string Utf8FromWestern(const char* text);

// A float as the shortest-enough decimal that reads back to the same float
// ("%.9g", but "nan", "inf" and "-inf" for the special values; every NaN
// reads "nan").
std::string FormatFloat(float value);
std::string FormatDouble(double value);
// A chart's numbers: a label to six significant digits, a coordinate to two decimals.
std::string ChartNumber(double value);
std::string ChartCoordinate(double value);

// Parses a whole text as a number; false when anything but the number is
// there (leading or trailing spaces included) or it is out of range.
bool ParseDouble(const std::string& text, double* out);
bool ParseInt32(const std::string& text, int32_t* out);

// True when `text` and `other` match ignoring ASCII case.
bool EqualsIgnoringCase(const std::string& text, const std::string& other);

}  // namespace semhost
