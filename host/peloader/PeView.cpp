#include "PeView.h"

#include <string.h>

#include <algorithm>

#include "PeLoadError.h"

namespace peloader {

void PeView::Check(uint32_t rva, uint64_t size, const std::string& what) const {
  if (rva > m_size || size > m_size - rva) {
    Fail(what + " at RVA " + PeLoadError::Hex(rva) + " (" + PeLoadError::Hex(size) + " bytes) lies outside the image");
  }
}

uint32_t PeView::U32(uint32_t rva, const std::string& what) const {
  Check(rva, 4, what);
  uint32_t v;
  memcpy(&v, m_block + rva, sizeof v);
  return v;
}

uint16_t PeView::U16(uint32_t rva, const std::string& what) const {
  Check(rva, 2, what);
  uint16_t v;
  memcpy(&v, m_block + rva, sizeof v);
  return v;
}

void PeView::SetU32(uint32_t rva, uint32_t value, const std::string& what) {
  Check(rva, 4, what);
  memcpy(m_block + rva, &value, sizeof value);
}

std::string PeView::Text(uint32_t rva, const std::string& what) const {
  if (rva >= m_size) Fail(what + " at RVA " + PeLoadError::Hex(rva) + " lies outside the image");
  const uint32_t room = std::min(m_size - rva, kMaxName + 1);
  const void* nul = memchr(m_block + rva, 0, room);
  if (!nul) {
    Fail(what + " at RVA " + PeLoadError::Hex(rva) +
         (room > kMaxName ? " is longer than 4096 bytes" : " runs past the end of the image"));
  }
  return std::string(reinterpret_cast<const char*>(m_block + rva), static_cast<const uint8_t*>(nul) - (m_block + rva));
}

void PeView::Fail(const std::string& why) const { throw PeLoadError(m_file_name, why); }

}  // namespace peloader
