#include "PeHeaders.h"

#include <string.h>

#include <algorithm>

#include "PeLoadError.h"

namespace peloader {

namespace {

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint16_t kRelocsStripped = 0x0001;
constexpr uint32_t kPe32DirectoriesAt = 96;  // offset of the data directories in the optional header
constexpr uint32_t kSectionHeaderSize = 40;

const char* const kDirectoryNames[16] = {"export",        "import",          "resource", "exception",
                                         "security",      "relocation",      "debug",    "architecture",
                                         "global pointer", "TLS",            "load configuration",
                                         "bound import",  "import address table", "delay import",
                                         "runtime header", "reserved"};

std::string Range(uint32_t rva, uint64_t size) {
  return "at RVA " + PeLoadError::Hex(rva) + " (" + PeLoadError::Hex(size) + " bytes)";
}

}  // namespace

PeHeaders::PeHeaders(const std::string& file_name, const uint8_t* file, size_t size)
    : m_file_name(file_name), m_file(file), m_file_size(size) {
  Need(0, 0x40, "DOS header");
  if (file[0] != 'M' || file[1] != 'Z') Fail("not a PE file (no MZ signature)");
  const uint32_t pe = U32(0x3C);
  Need(pe, 24, "PE header");
  if (memcmp(file + pe, "PE\0\0", 4) != 0) Fail("not a PE file (no PE signature)");
  const size_t coff = size_t{pe} + 4;
  if (U16(coff) != kMachineI386) Fail("not an i386 image");
  const uint16_t section_count = U16(coff + 2);
  const uint16_t optional_size = U16(coff + 16);
  m_relocations_stripped = (U16(coff + 18) & kRelocsStripped) != 0;
  const size_t opt = coff + 20;
  Need(opt, optional_size, "optional header");
  if (optional_size < kPe32DirectoriesAt || U16(opt) != kOptionalMagicPe32) Fail("not a PE32 image");
  ReadOptionalHeader(opt, optional_size);
  ReadSections(opt + optional_size, section_count, size);
  CheckDirectories();
  if (m_entry_rva) CheckInSection(m_entry_rva, "the entry point");
}

void PeHeaders::ReadOptionalHeader(size_t opt, uint16_t optional_size) {
  m_entry_rva = U32(opt + 16);
  m_preferred_base = U32(opt + 28);
  m_image_size = U32(opt + 56);
  m_headers_size = U32(opt + 60);
  if (m_image_size == 0) Fail("bad image size (0)");
  if (m_image_size > kMaxImageSize) {
    Fail("its image size of " + PeLoadError::Hex(m_image_size) + " bytes exceeds the loader's limit of " +
         PeLoadError::Hex(kMaxImageSize));
  }
  if (m_headers_size > m_image_size) {
    Fail("its headers (" + PeLoadError::Hex(m_headers_size) + " bytes) are larger than the image");
  }
  Need(0, m_headers_size, "headers");
  const uint32_t declared = U32(opt + 92);
  const uint32_t room = (optional_size - kPe32DirectoriesAt) / 8;
  const uint32_t count = std::min<uint32_t>({declared, room, 16});
  for (uint32_t i = 0; i < count; ++i) {
    m_directories[i].rva = U32(opt + kPe32DirectoriesAt + 8 * i);
    m_directories[i].size = U32(opt + kPe32DirectoriesAt + 8 * i + 4);
  }
}

// Sections are mapped at their RVAs: each must lie past the headers, inside
// the image, with its data inside the file, and no two may share a byte.
void PeHeaders::ReadSections(size_t table, uint16_t count, size_t file_size) {
  if (count > kMaxSections) Fail("its " + std::to_string(count) + " sections exceed the limit of 96");
  const uint64_t table_end = table + uint64_t{kSectionHeaderSize} * count;
  if (table_end > m_headers_size) Fail("its section table runs past the headers");
  for (uint16_t i = 0; i < count; ++i) {
    const size_t s = table + size_t{kSectionHeaderSize} * i;
    const uint32_t virtual_size = U32(s + 8);
    PeSection section;
    section.rva = U32(s + 12);
    const uint32_t raw_size = U32(s + 16);
    section.raw_at = U32(s + 20);
    section.span = virtual_size ? virtual_size : raw_size;
    section.raw_copy = std::min(raw_size, section.span);
    const std::string name = "section " + std::to_string(i + 1) + " " + Range(section.rva, section.span);
    if (section.span == 0) continue;  // occupies nothing
    if (uint64_t{section.rva} + section.span > m_image_size) Fail(name + " lies outside the image");
    if (section.rva < m_headers_size) Fail(name + " overlaps the headers");
    if (raw_size && uint64_t{section.raw_at} + raw_size > file_size) {
      Fail(name + " has its data at file offset " + PeLoadError::Hex(section.raw_at) + " (" +
           PeLoadError::Hex(raw_size) + " bytes) outside the file");
    }
    m_sections.push_back(section);
  }
  std::vector<PeSection> sorted = m_sections;
  std::sort(sorted.begin(), sorted.end(), [](const PeSection& a, const PeSection& b) { return a.rva < b.rva; });
  for (size_t i = 1; i < sorted.size(); ++i) {
    if (sorted[i - 1].rva + sorted[i - 1].span > sorted[i].rva) {
      Fail("the section " + Range(sorted[i].rva, sorted[i].span) + " overlaps the section " +
           Range(sorted[i - 1].rva, sorted[i - 1].span));
    }
  }
}

void PeHeaders::CheckDirectories() const {
  for (uint32_t i = 0; i < 16; ++i) {
    const PeDirectory d = m_directories[i];
    if (d.size && uint64_t{d.rva} + d.size > m_image_size) {
      Fail(std::string("the ") + kDirectoryNames[i] + " directory " + Range(d.rva, d.size) +
           " lies outside the image");
    }
  }
  // Without the import directory the address table would stay unbound.
  if (m_directories[kIatDir].size && !m_directories[kImportDir].size) {
    Fail("it has an import address table but no import directory");
  }
}

void PeHeaders::CheckInSection(uint32_t rva, const std::string& what) const {
  const std::string where = what + " at RVA " + PeLoadError::Hex(rva);
  if (rva >= m_image_size) Fail(where + " lies outside the image");
  for (const PeSection& s : m_sections) {
    if (rva >= s.rva && rva - s.rva < s.span) return;
  }
  Fail(where + " lies in no section");
}

void PeHeaders::Fail(const std::string& why) const { throw PeLoadError(m_file_name, why); }

void PeHeaders::Need(size_t at, size_t size, const char* what) const {
  if (at > m_file_size || size > m_file_size - at) Fail(std::string("file too short for its ") + what);
}

uint16_t PeHeaders::U16(size_t at) const {
  uint16_t v;
  memcpy(&v, m_file + at, sizeof v);
  return v;
}

uint32_t PeHeaders::U32(size_t at) const {
  uint32_t v;
  memcpy(&v, m_file + at, sizeof v);
  return v;
}

}  // namespace peloader
