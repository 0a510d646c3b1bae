#include "MsFormat.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <type_traits>

#include "CodePages.h"

namespace peloader {

namespace {

// One directive of the C library's printf, which it reads the
// same way as msvcrt. The directive is built at run time, hence no format check.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename T>
std::string Printf(const std::string& directive, T value) {
  const int size = snprintf(nullptr, 0, directive.c_str(), value);
  std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) snprintf(&out[0], out.size() + 1, directive.c_str(), value);
  return out;
}
#pragma GCC diagnostic pop

std::string Utf8Of(char16_t unit) { return CodePages::FromUtf16(CodePages::kUtf8, &unit, 1); }

// The ASCII character `c` stands for, or DEL for anything else: only ASCII
// characters shape a conversion.
template <typename Char>
char Ascii(Char c) {
  const auto code = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
  return code < 0x80 ? static_cast<char>(code) : '\x7f';
}

template <typename Char>
std::string Format(const Char* format, bool wide_family, va_list in) {
  va_list args;
  va_copy(args, in);
  std::string out;
  const Char* p = format;
  while (*p) {
    if (*p != '%') {
      if (sizeof(Char) == 1) {
        out += static_cast<char>(*p++);
      } else {
        const Char* run = p;
        while (*p && *p != '%') ++p;
        out += CodePages::FromUtf16(CodePages::kUtf8, reinterpret_cast<const char16_t*>(run),
                                    static_cast<size_t>(p - run));
      }
      continue;
    }
    ++p;
    std::string flags;
    while (*p && strchr("-+ #0", Ascii(*p))) flags += Ascii(*p++);
    int width = -1;
    if (*p == '*') {
      width = va_arg(args, int);
      if (width < 0) flags += '-', width = -width;
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') width = (width < 0 ? 0 : width * 10) + (*p++ - '0');
    }
    int precision = -1;
    if (*p == '.') {
      ++p;
      precision = 0;
      if (*p == '*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
      }
    }
    // Size: 'H' short, 'C' char, 'Q' 64-bit, 'W' wide text, 'N' narrow text, 0 default.
    char size = 0;
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      size = 'Q', p += 3;
    } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
      p += 3;
    } else if (p[0] == 'l' && p[1] == 'l') {
      size = 'Q', p += 2;
    } else if (p[0] == 'h' && p[1] == 'h') {
      size = 'C', p += 2;
    } else if (*p == 'h') {
      size = 'H', ++p;
    } else if (*p == 'l' || *p == 'w') {
      size = 'W', ++p;
    } else if (*p == 'j') {
      size = 'Q', ++p;
    } else if (*p == 'I' || *p == 'z' || *p == 't' || *p == 'L') {
      ++p;
    }
    const char conversion = *p ? Ascii(*p++) : '\0';
    std::string directive = "%" + flags;
    if (width >= 0) directive += std::to_string(width);
    const std::string directive_with_precision = precision >= 0 ? directive + "." + std::to_string(precision) : directive;

    switch (conversion) {
      case '%':
        out += '%';
        break;
      case 'd':
      case 'i':
        if (size == 'Q') {
          out += Printf(directive_with_precision + "lld", va_arg(args, long long));
        } else {
          int v = va_arg(args, int);
          if (size == 'H') v = static_cast<short>(v);
          if (size == 'C') v = static_cast<signed char>(v);
          out += Printf(directive_with_precision + "d", v);
        }
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        if (size == 'Q') {
          out += Printf(directive_with_precision + "ll" + conversion, va_arg(args, unsigned long long));
        } else {
          unsigned v = va_arg(args, unsigned);
          if (size == 'H') v = static_cast<unsigned short>(v);
          if (size == 'C') v = static_cast<unsigned char>(v);
          out += Printf(directive_with_precision + conversion, v);
        }
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        out += Printf(directive_with_precision + conversion, va_arg(args, double));
        break;
      case 'p':
        out += Printf("%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(va_arg(args, void*))));
        break;
      case 'c':
      case 'C':
      case 's':
      case 'S': {
        const bool upper = conversion == 'C' || conversion == 'S';
        const bool wide = size == 'W' || (size != 'H' && size != 'C' && (upper != wide_family));
        std::string text;
        if (conversion == 'c' || conversion == 'C') {
          const int c = va_arg(args, int);
          text = wide ? Utf8Of(static_cast<char16_t>(c)) : std::string(1, static_cast<char>(c));
        } else if (wide) {
          const char16_t* s = va_arg(args, const char16_t*);
          if (!s) {
            text = "(null)";
          } else {
            size_t n = CodePages::Length(s);
            if (precision >= 0 && static_cast<size_t>(precision) < n) n = static_cast<size_t>(precision);
            text = CodePages::FromUtf16(CodePages::kUtf8, s, n);
          }
        } else {
          const char* s = va_arg(args, const char*);
          text = s ? std::string(s, precision >= 0 ? strnlen(s, static_cast<size_t>(precision)) : strlen(s))
                   : std::string("(null)");
        }
        out += Printf(directive + "s", text.c_str());
        break;
      }
      case 'n':
        if (size == 'H') {
          *va_arg(args, short*) = static_cast<short>(out.size());
        } else {
          *va_arg(args, int*) = static_cast<int>(out.size());
        }
        break;
      case '\0':
        break;
      default:  // not a conversion: the character itself, as msvcrt prints it
        out += conversion;
        break;
    }
  }
  va_end(args);
  return out;
}

}  // namespace

std::string MsFormat::Narrow(const char* format, va_list args) { return Format(format, false, args); }

std::string MsFormat::Wide(const char16_t* format, va_list args) { return Format(format, true, args); }

}  // namespace peloader
