#pragma once
// Conversions between the Windows text encodings that the shims meet: 16-bit
// wide text (UTF-16), UTF-8 and the Western code page 1252, which also serves
// as the process's ANSI code page.

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace peloader {

class CodePages {
 public:
  static constexpr uint32_t kWestern = 1252;
  static constexpr uint32_t kUtf8 = 65001;

  // The code page a Windows code-page argument means: the ANSI (0) and
  // thread ANSI (3) code pages are 1252. 0 for a code page not supported here.
  static uint32_t Resolve(uint32_t code_page);

  // Decodes `size` bytes. With `strict`, an invalid UTF-8 sequence fails
  // (false); otherwise it becomes U+FFFD. Code page 1252 always succeeds.
  static bool ToUtf16(uint32_t code_page, const char* bytes, size_t size, std::u16string* out, bool strict);
  // Encodes `size` 16-bit units. A character the code page lacks becomes
  // `fallback` and sets *used_fallback (when given).
  static std::string FromUtf16(uint32_t code_page, const char16_t* text, size_t size, char fallback = '?',
                               bool* used_fallback = nullptr);

  // UTF-8 of NUL-terminated wide text; a null pointer gives "".
  static std::string Utf8(const char16_t* text);
  static size_t Length(const char16_t* text);  // units before the NUL
};

}  // namespace peloader
