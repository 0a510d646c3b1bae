#include "Text.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <cmath>
#include <limits>

#include "Cp1252.h"

namespace semhost {

namespace {

void AppendUtf8(std::string* out, uint32_t code) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void AppendHexEscape(std::string* out, unsigned char byte) {
  char escape[8];
  snprintf(escape, sizeof escape, "\\x%02X", byte);
  *out += escape;
}

std::string Convert(const char* text, bool escape, bool keep_newlines) {
  if (!text) return "(null)";
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    const unsigned char byte = *p;
    if (byte >= 0x80 && byte < 0xA0) {
      const uint16_t code = setest::Cp1252ToUnicode(byte);
      if (setest::Cp1252Assigned(byte)) {
        AppendUtf8(&out, code);
      } else if (escape) {
        AppendHexEscape(&out, byte);
      } else {
        AppendUtf8(&out, 0xFFFD);
      }
    } else if (byte >= 0xA0 || !escape || byte >= 0x20) {
      if (byte == 0x7F && escape) {
        AppendHexEscape(&out, byte);
      } else {
        AppendUtf8(&out, byte);
      }
    } else if (byte == '\n') {
      out += keep_newlines ? "\n" : "\\n";
    } else if (byte == '\t') {
      out += "\\t";
    } else {
      AppendHexEscape(&out, byte);
    }
  }
  return out;
}

template <class T>
std::string FormatSpecial(T value) {
  if (std::isnan(value)) return "nan";  // a NaN's sign and payload mean nothing to a reader
  return value < 0 ? "-inf" : "inf";
}

}  // namespace

std::string Printable(const char* text, bool keep_newlines) { return Convert(text, true, keep_newlines); }

std::string Utf8FromWestern(const char* text) { return text ? Convert(text, false, true) : std::string(); }

std::string FormatFloat(float value) {
  if (!std::isfinite(value)) return FormatSpecial(value);
  char buffer[32];
  snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(value));
  return buffer;
}

std::string FormatDouble(double value) {
  if (!std::isfinite(value)) return FormatSpecial(value);
  char buffer[40];
  snprintf(buffer, sizeof buffer, "%.17g", value);
  // Prefer the shorter form when it reads back exactly.
  for (int digits = 6; digits < 17; ++digits) {
    char shorter[40];
    snprintf(shorter, sizeof shorter, "%.*g", digits, value);
    if (strtod(shorter, nullptr) == value) return shorter;
  }
  return buffer;
}

bool ParseDouble(const std::string& text, double* out) {
  if (text.empty() || text.find_first_of(" \t\n\r\f\v") != std::string::npos) return false;
  errno = 0;
  char* end = nullptr;
  const double value = strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return false;
  if (errno == ERANGE && std::isinf(value)) return false;  // too large; underflow reads as the tiny value
  *out = value;
  return true;
}

bool ParseInt32(const std::string& text, int32_t* out) {
  if (text.empty() || text.find_first_of(" \t\n\r\f\v") != std::string::npos) return false;
  errno = 0;
  char* end = nullptr;
  const long long value = strtoll(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || errno == ERANGE) return false;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

bool EqualsIgnoringCase(const std::string& text, const std::string& other) {
  if (text.size() != other.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char a = text[i], b = other[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

std::string ChartNumber(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string ChartCoordinate(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.2f", value);
  return text;
}

}  // namespace semhost
