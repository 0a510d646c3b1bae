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

// One directive after its '%': flags, width, precision, size and conversion.
struct Directive {
  std::string flags;
  int width = -1;
  int precision = -1;
  char size = 0;  // 'H' short, 'C' char, 'Q' 64-bit, 'W' wide text, 0 default
  char conversion = 0;

  // The directive for the C library's printf without its conversion, with
  // and without the precision.
  std::string Head() const { return "%" + flags + (width >= 0 ? std::to_string(width) : std::string()); }
  std::string HeadWithPrecision() const { return precision >= 0 ? Head() + "." + std::to_string(precision) : Head(); }
};

// Reads decimal digits onto `n` (-1: none read yet).
template <typename Char>
int ReadDigits(const Char*& p, int n) {
  while (*p >= '0' && *p <= '9') n = (n < 0 ? 0 : n * 10) + (*p++ - '0');
  return n;
}

// Reads the size prefix: 'H' short, 'C' char, 'Q' 64-bit, 'W' wide text, 0 default.
template <typename Char>
char ReadSize(const Char*& p) {
  struct Prefix {
    const char* text;
    char size;
  };
  static const Prefix kPrefixes[] = {{"I64", 'Q'}, {"I32", 0}, {"ll", 'Q'}, {"hh", 'C'}, {"h", 'H'}, {"l", 'W'},
                                     {"w", 'W'},   {"j", 'Q'}, {"I", 0},    {"z", 0},     {"t", 0},   {"L", 0}};
  for (const Prefix& prefix : kPrefixes) {
    size_t n = 0;
    while (prefix.text[n] && p[n] == static_cast<Char>(prefix.text[n])) ++n;
    if (prefix.text[n] == '\0') {
      p += n;
      return prefix.size;
    }
  }
  return 0;
}

// Reads the directive that starts at `p` (just after '%'), taking the
// arguments a '*' width or precision names.
template <typename Char>
Directive ReadDirective(const Char*& p, va_list* args) {
  Directive d;
  while (*p && strchr("-+ #0", Ascii(*p))) d.flags += Ascii(*p++);
  if (*p == '*') {
    ++p;
    d.width = va_arg(*args, int);
    if (d.width < 0) d.flags += '-', d.width = -d.width;  // a negative '*' width: left-aligned
  } else {
    d.width = ReadDigits(p, -1);
  }
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      ++p;
      d.precision = va_arg(*args, int);
    } else {
      d.precision = ReadDigits(p, 0);
    }
  }
  d.size = ReadSize(p);
  d.conversion = *p ? Ascii(*p++) : '\0';
  return d;
}

std::string SignedInteger(const Directive& d, va_list* args) {
  if (d.size == 'Q') return Printf(d.HeadWithPrecision() + "lld", va_arg(*args, long long));
  int v = va_arg(*args, int);
  if (d.size == 'H') v = static_cast<short>(v);
  if (d.size == 'C') v = static_cast<signed char>(v);
  return Printf(d.HeadWithPrecision() + "d", v);
}

std::string UnsignedInteger(const Directive& d, va_list* args) {
  if (d.size == 'Q') return Printf(d.HeadWithPrecision() + "ll" + d.conversion, va_arg(*args, unsigned long long));
  unsigned v = va_arg(*args, unsigned);
  if (d.size == 'H') v = static_cast<unsigned short>(v);
  if (d.size == 'C') v = static_cast<unsigned char>(v);
  return Printf(d.HeadWithPrecision() + d.conversion, v);
}

// %c, %C, %s and %S: narrow or wide as msvcrt decides (the upper-case ones
// are the other family's), a null text as "(null)".
std::string Text(const Directive& d, bool wide_family, va_list* args) {
  const bool upper = d.conversion == 'C' || d.conversion == 'S';
  const bool wide = d.size == 'W' || (d.size != 'H' && d.size != 'C' && (upper != wide_family));
  std::string text;
  if (d.conversion == 'c' || d.conversion == 'C') {
    const int c = va_arg(*args, int);
    text = wide ? Utf8Of(static_cast<char16_t>(c)) : std::string(1, static_cast<char>(c));
  } else if (wide) {
    const char16_t* s = va_arg(*args, const char16_t*);
    if (!s) {
      text = "(null)";
    } else {
      size_t n = CodePages::Length(s);
      if (d.precision >= 0 && static_cast<size_t>(d.precision) < n) n = static_cast<size_t>(d.precision);
      text = CodePages::FromUtf16(CodePages::kUtf8, s, n);
    }
  } else {
    const char* s = va_arg(*args, const char*);
    text = s ? std::string(s, d.precision >= 0 ? strnlen(s, static_cast<size_t>(d.precision)) : strlen(s))
             : std::string("(null)");
  }
  return Printf(d.Head() + "s", text.c_str());
}

// Appends what one directive prints to `out`.
void Convert(const Directive& d, bool wide_family, va_list* args, std::string& out) {
  switch (d.conversion) {
    case '%': out += '%'; break;
    case 'd': case 'i': out += SignedInteger(d, args); break;
    case 'u': case 'o': case 'x': case 'X': out += UnsignedInteger(d, args); break;
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
      out += Printf(d.HeadWithPrecision() + d.conversion, va_arg(*args, double));
      break;
    case 'p': out += Printf("%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(va_arg(*args, void*)))); break;
    case 'c': case 'C': case 's': case 'S': out += Text(d, wide_family, args); break;
    case 'n':
      if (d.size == 'H') {
        *va_arg(*args, short*) = static_cast<short>(out.size());
      } else {
        *va_arg(*args, int*) = static_cast<int>(out.size());
      }
      break;
    case '\0': break;
    default: out += d.conversion; break;  // not a conversion: the character itself, as msvcrt prints it
  }
}

template <typename Char>
std::string Format(const Char* format, bool wide_family, va_list in) {
  va_list args;
  va_copy(args, in);
  std::string out;
  const Char* p = format;
  while (*p) {
    if (*p != '%') {
      // A run of plain characters, as they are (wide ones in UTF-8).
      const Char* run = p;
      while (*p && *p != '%') ++p;
      if (sizeof(Char) == 1) {
        out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
      } else {
        out += CodePages::FromUtf16(CodePages::kUtf8, reinterpret_cast<const char16_t*>(run),
                                    static_cast<size_t>(p - run));
      }
      continue;
    }
    ++p;
    const Directive d = ReadDirective(p, &args);
    Convert(d, wide_family, &args, out);
  }
  va_end(args);
  return out;
}

}  // namespace

std::string MsFormat::Narrow(const char* format, va_list args) { return Format(format, false, args); }

std::string MsFormat::Wide(const char16_t* format, va_list args) { return Format(format, true, args); }

}  // namespace peloader
