#include "PeLayout.h"

#include <string.h>

#include "PeLoadError.h"
#include "PeView.h"

namespace peloader {

namespace {

constexpr uint16_t kRelocAbsolute = 0;
constexpr uint16_t kRelocHighLow = 3;
constexpr uint32_t kRelocBlockHeader = 8;
constexpr uint32_t kTlsDirectorySize = 24;

std::string At(uint32_t rva) { return " at RVA " + PeLoadError::Hex(rva); }

}  // namespace

PeLayout::PeLayout(const std::string& file_name, const uint8_t* file, size_t size)
    : m_file(file), m_headers(file_name, file, size) {}

void PeLayout::Lay(uint8_t* block, uint32_t address) {
  m_block = block;
  CopySections(block);
  // Checked wherever the image lands, so a file is refused the same way at
  // every address; at the preferred base the delta is 0 and words stay.
  Relocate(block, address - m_headers.PreferredBase());
  const PeView view(m_headers.FileName(), block, m_headers.ImageSize());
  m_imports = PeImportTable::Read(view, m_headers.Directory(PeHeaders::kImportDir));
  m_exports = PeExportTable::Read(view, m_headers, m_headers.Directory(PeHeaders::kExportDir));
  ReadTls(block, address);
}

void PeLayout::CopySections(uint8_t* block) {
  memcpy(block, m_file, m_headers.HeadersSize());
  for (const PeSection& s : m_headers.Sections()) {
    if (s.raw_copy) memcpy(block + s.rva, m_file + s.raw_at, s.raw_copy);
  }
}

// Blocks follow each other inside the directory, each at least its header
// long, so the walk ends after at most size / 8 blocks.
void PeLayout::Relocate(uint8_t* block, uint32_t delta) {
  const PeDirectory d = m_headers.Directory(PeHeaders::kRelocDir);
  const PeView view(m_headers.FileName(), block, m_headers.ImageSize());
  uint32_t at = d.rva;
  const uint32_t end = d.rva + d.size;  // inside the image: checked with the headers
  while (end - at >= kRelocBlockHeader) {
    const uint32_t size = view.U32(at + 4, "the relocation block");
    if (size < kRelocBlockHeader) {
      view.Fail("the relocation block" + At(at) + " has size " + PeLoadError::Hex(size) +
                ", less than its 8-byte header");
    }
    if (size > end - at) {
      view.Fail("the relocation block" + At(at) + " (" + PeLoadError::Hex(size) +
                " bytes) runs past the relocation directory");
    }
    RelocateBlock(block, at, size, delta);
    at += size;
  }
}

void PeLayout::RelocateBlock(uint8_t* block, uint32_t at, uint32_t size, uint32_t delta) {
  PeView view(m_headers.FileName(), block, m_headers.ImageSize());
  const uint32_t page = view.U32(at, "the relocation block");
  for (uint32_t e = at + kRelocBlockHeader; size - (e - at) >= 2; e += 2) {
    const uint16_t entry = view.U16(e, "the relocation entry");
    const uint16_t type = entry >> 12;
    if (type == kRelocAbsolute) continue;
    if (type != kRelocHighLow) view.Fail("unsupported relocation type " + std::to_string(type) + At(e));
    const uint64_t target = uint64_t{page} + (entry & 0x0FFFu);
    if (target + 4 > view.Size()) {
      view.Fail("the relocation target" + At(static_cast<uint32_t>(target)) + " (entry" + At(e) +
                ") lies outside the image");
    }
    const std::string what = "the relocation target";
    view.SetU32(static_cast<uint32_t>(target), view.U32(static_cast<uint32_t>(target), what) + delta, what);
  }
}

// The TLS directory holds addresses, already relocated for `address`; each
// becomes an RVA that must lie inside the image.
void PeLayout::ReadTls(uint8_t* block, uint32_t address) {
  const PeDirectory d = m_headers.Directory(PeHeaders::kTlsDir);
  if (d.size == 0) return;
  const PeView view(m_headers.FileName(), block, m_headers.ImageSize());
  if (d.size < kTlsDirectorySize) view.Fail("the TLS directory" + At(d.rva) + " is shorter than 24 bytes");
  const std::string what = "the TLS directory";
  const uint32_t start = view.U32(d.rva, what);
  const uint32_t end = view.U32(d.rva + 4, what);
  const uint32_t index = view.U32(d.rva + 8, what);
  const uint32_t callbacks = view.U32(d.rva + 12, what);
  m_tls.zero_fill = view.U32(d.rva + 16, what);
  if (end < start) view.Fail("the TLS template ends before it starts");
  if (end != start) {
    m_tls.template_rva = start - address;
    m_tls.template_size = end - start;
    view.Check(m_tls.template_rva, m_tls.template_size, "the TLS template");
  }
  if (m_tls.zero_fill > view.Size()) {
    view.Fail("the TLS zero fill of " + PeLoadError::Hex(m_tls.zero_fill) + " bytes is larger than the image");
  }
  if (index) {
    m_tls.index_rva = index - address;
    view.Check(m_tls.index_rva, 4, "the TLS index slot");
  }
  if (callbacks) {
    const uint32_t list = callbacks - address;
    if (list >= view.Size()) view.Fail("the TLS callback list" + At(list) + " lies outside the image");
    for (uint64_t at = list;; at += 4) {
      if (at + 4 > view.Size()) view.Fail("the TLS callback list" + At(list) + " has no terminator inside the image");
      const uint32_t callback = view.U32(static_cast<uint32_t>(at), "the TLS callback list");
      if (callback == 0) break;
      m_headers.CheckInSection(callback - address, "the TLS callback");
      m_tls.callbacks.push_back(callback - address);
    }
  }
  m_has_tls = true;
}

void PeLayout::BindImports(const PeResolver& resolve, const std::string& refusal) {
  std::vector<uint32_t> addresses;
  std::string missing;
  for (const PeImport& i : m_imports) {
    const uint32_t address = i.name.empty() ? 0 : resolve(i.dll, i.name);
    if (!address) {
      missing += missing.empty() ? "" : ", ";
      missing += i.dll + "!" + (i.name.empty() ? "#" + std::to_string(i.ordinal) : i.name);
    }
    addresses.push_back(address);
  }
  if (!missing.empty()) m_headers.Fail(refusal + missing);
  PeView view(m_headers.FileName(), m_block, m_headers.ImageSize());
  for (size_t n = 0; n < m_imports.size(); ++n) view.SetU32(m_imports[n].slot_rva, addresses[n], "import address slot");
}

}  // namespace peloader
