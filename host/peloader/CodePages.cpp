#include "CodePages.h"

#include "Cp1252.h"

namespace peloader {

namespace {

const auto& kWestern80 = setest::kCp1252From80;  // bytes 0x80 to 0x9F

void AppendUtf16(char32_t c, std::u16string* out) {
  if (c < 0x10000) {
    out->push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// One UTF-8 sequence starting at bytes[*at]; false when it is invalid
// (overlong, surrogate, above U+10FFFF or cut short). *at moves past what was read.
bool DecodeUtf8(const unsigned char* bytes, size_t size, size_t* at, char32_t* c) {
  const unsigned char lead = bytes[(*at)++];
  if (lead < 0x80) {
    *c = lead;
    return true;
  }
  int extra;
  char32_t min;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, min = 0x80, *c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, min = 0x800, *c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, min = 0x10000, *c = lead & 0x07;
  } else {
    return false;
  }
  for (int i = 0; i < extra; ++i) {
    if (*at >= size || (bytes[*at] & 0xC0) != 0x80) return false;
    *c = (*c << 6) | (bytes[(*at)++] & 0x3F);
  }
  return *c >= min && *c <= 0x10FFFF && !(*c >= 0xD800 && *c <= 0xDFFF);
}

}  // namespace

uint32_t CodePages::Resolve(uint32_t code_page) {
  switch (code_page) {
    case 0:  // CP_ACP
    case 3:  // CP_THREAD_ACP
    case kWestern:
      return kWestern;
    case kUtf8:
      return kUtf8;
    default:
      return 0;
  }
}

bool CodePages::ToUtf16(uint32_t code_page, const char* bytes, size_t size, std::u16string* out, bool strict) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  if (code_page == kWestern) {
    for (size_t i = 0; i < size; ++i) {
      out->push_back(in[i] >= 0x80 && in[i] < 0xA0 ? kWestern80[in[i] - 0x80] : static_cast<char16_t>(in[i]));
    }
    return true;
  }
  for (size_t at = 0; at < size;) {
    char32_t c;
    if (!DecodeUtf8(in, size, &at, &c)) {
      if (strict) return false;
      c = 0xFFFD;
    }
    AppendUtf16(c, out);
  }
  return true;
}

std::string CodePages::FromUtf16(uint32_t code_page, const char16_t* text, size_t size, char fallback,
                                 bool* used_fallback) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < size && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (code_page == kUtf8) {
      AppendUtf8(c >= 0xD800 && c < 0xE000 ? 0xFFFD : c, &out);
      continue;
    }
    int byte = -1;
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
      byte = static_cast<int>(c);
    } else {
      for (int b = 0; b < 32; ++b) {
        if (kWestern80[b] == c) byte = 0x80 + b;
      }
    }
    if (byte < 0) {
      byte = static_cast<unsigned char>(fallback);
      if (used_fallback) *used_fallback = true;
    }
    out.push_back(static_cast<char>(byte));
  }
  return out;
}

size_t CodePages::Length(const char16_t* text) {
  size_t n = 0;
  if (text) {
    while (text[n]) ++n;
  }
  return n;
}

std::string CodePages::Utf8(const char16_t* text) { return FromUtf16(kUtf8, text, Length(text)); }

}  // namespace peloader
