#include "PeImage.h"

#include <string.h>
#include <sys/mman.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "ImportShims.h"

namespace peloader {

namespace {

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint16_t kRelocsStripped = 0x0001;
constexpr uint32_t kOrdinalFlag = 0x80000000u;
constexpr uint16_t kRelocAbsolute = 0;
constexpr uint16_t kRelocHighLow = 3;

enum DirectoryIndex : uint32_t { kExportDir = 0, kImportDir = 1, kRelocDir = 5, kTlsDir = 9 };

uint16_t U16(const std::vector<uint8_t>& bytes, size_t at) {
  uint16_t v;
  memcpy(&v, bytes.data() + at, sizeof v);
  return v;
}

uint32_t U32(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t v;
  memcpy(&v, bytes.data() + at, sizeof v);
  return v;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

PeImage::PeImage(const std::string& path) : m_file_name(BaseName(path)) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot open " + path);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Map(file);
  try {
    Relocate();
  } catch (...) {
    munmap(m_base, m_size);
    throw;
  }
}

PeImage::~PeImage() {
  if (m_base) munmap(m_base, m_size);
}

void PeImage::Fail(const std::string& why) const { throw PeLoadError(m_file_name + ": " + why); }

void PeImage::Map(const std::vector<uint8_t>& file) {
  auto need = [&](size_t at, size_t size, const char* what) {
    if (at > file.size() || size > file.size() - at) Fail(std::string("file too short for its ") + what);
  };
  need(0, 0x40, "DOS header");
  if (file[0] != 'M' || file[1] != 'Z') Fail("not a PE file (no MZ signature)");
  const uint32_t pe = U32(file, 0x3C);
  need(pe, 24, "PE header");
  if (memcmp(file.data() + pe, "PE\0\0", 4) != 0) Fail("not a PE file (no PE signature)");
  const size_t coff = pe + 4;
  if (U16(file, coff) != kMachineI386) Fail("not an i386 image");
  const uint16_t section_count = U16(file, coff + 2);
  const uint16_t optional_size = U16(file, coff + 16);
  const uint16_t characteristics = U16(file, coff + 18);
  const size_t opt = coff + 20;
  need(opt, optional_size, "optional header");
  if (optional_size < 96 || U16(file, opt) != kOptionalMagicPe32) Fail("not a PE32 image");

  m_entry_rva = U32(file, opt + 16);
  m_preferred_base = U32(file, opt + 28);
  m_size = U32(file, opt + 56);
  const uint32_t headers_size = U32(file, opt + 60);
  const uint32_t directory_count = U32(file, opt + 92);
  auto directory = [&](uint32_t index) {
    Directory d;
    if (index < directory_count && 96u + 8u * (index + 1) <= optional_size) {
      d.rva = U32(file, opt + 96 + 8 * index);
      d.size = U32(file, opt + 96 + 8 * index + 4);
    }
    return d;
  };
  m_exports = directory(kExportDir);
  m_imports = directory(kImportDir);
  m_relocations = directory(kRelocDir);
  m_tls = directory(kTlsDir);
  if (m_size == 0 || headers_size > m_size) Fail("bad image size");

  // Placed at the preferred base when that range is free, anywhere otherwise.
  void* hint = reinterpret_cast<void*>(static_cast<uintptr_t>(m_preferred_base));
  void* at = mmap(hint, m_size, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == MAP_FAILED) Fail("cannot map " + std::to_string(m_size) + " bytes");
  m_base = static_cast<uint8_t*>(at);
  if (Relocated() && (characteristics & kRelocsStripped)) {
    munmap(m_base, m_size);
    m_base = nullptr;
    Fail("its preferred base is taken and it has no relocations");
  }

  try {
    need(0, headers_size, "headers");
    memcpy(m_base, file.data(), headers_size);
    const size_t sections = opt + optional_size;
    need(sections, size_t{40} * section_count, "section table");
    for (uint16_t i = 0; i < section_count; ++i) {
      const size_t s = sections + size_t{40} * i;
      const uint32_t virtual_size = U32(file, s + 8);
      const uint32_t rva = U32(file, s + 12);
      const uint32_t raw_size = U32(file, s + 16);
      const uint32_t raw_at = U32(file, s + 20);
      const uint32_t span = virtual_size ? virtual_size : raw_size;
      Check(rva, span, "section");
      const uint32_t copy = raw_size < span ? raw_size : span;  // the rest stays zero
      if (copy) {
        need(raw_at, copy, "section data");
        memcpy(m_base + rva, file.data() + raw_at, copy);
      }
    }
  } catch (...) {
    munmap(m_base, m_size);
    m_base = nullptr;
    throw;
  }
}

void PeImage::Check(uint32_t rva, uint32_t size, const char* what) const {
  if (rva > m_size || size > m_size - rva) {
    std::ostringstream message;
    message << what << " at RVA 0x" << std::hex << rva << " (0x" << size << " bytes) lies outside the image";
    Fail(message.str());
  }
}

template <typename T>
T PeImage::Read(uint32_t rva) const {
  Check(rva, sizeof(T), "field");
  T value;
  memcpy(&value, m_base + rva, sizeof value);
  return value;
}

const char* PeImage::Text(uint32_t rva) const {
  Check(rva, 1, "name");
  const void* nul = memchr(m_base + rva, 0, m_size - rva);
  if (!nul) Fail("unterminated name");
  return reinterpret_cast<const char*>(m_base + rva);
}

bool PeImage::Contains(const void* address) const {
  const uintptr_t a = reinterpret_cast<uintptr_t>(address);
  const uintptr_t base = reinterpret_cast<uintptr_t>(m_base);
  return a >= base && a - base < m_size;
}

void PeImage::Relocate() {
  const uint32_t delta = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m_base)) - m_preferred_base;
  if (delta == 0 || m_relocations.size == 0) return;
  Check(m_relocations.rva, m_relocations.size, "relocation table");
  uint32_t at = m_relocations.rva;
  const uint32_t end = m_relocations.rva + m_relocations.size;
  while (end - at >= 8) {
    const uint32_t page = Read<uint32_t>(at);
    const uint32_t block_size = Read<uint32_t>(at + 4);
    if (block_size < 8 || block_size > end - at) Fail("bad relocation block");
    for (uint32_t e = at + 8; e + 2 <= at + block_size; e += 2) {
      const uint16_t entry = Read<uint16_t>(e);
      const uint16_t type = entry >> 12;
      if (type == kRelocAbsolute) continue;
      if (type != kRelocHighLow) Fail("unsupported relocation type " + std::to_string(type));
      const uint32_t target = page + (entry & 0x0FFFu);
      Check(target, 4, "relocation target");
      uint32_t word;
      memcpy(&word, m_base + target, sizeof word);
      word += delta;
      memcpy(m_base + target, &word, sizeof word);
    }
    at += block_size;
  }
}

std::vector<PeImage::Import> PeImage::Imports() const {
  std::vector<Import> imports;
  if (m_imports.size == 0) return imports;
  for (uint32_t d = m_imports.rva;; d += 20) {
    const uint32_t lookup = Read<uint32_t>(d);
    const uint32_t name = Read<uint32_t>(d + 12);
    const uint32_t slots = Read<uint32_t>(d + 16);
    if (lookup == 0 && name == 0 && slots == 0) break;
    const std::string dll = Text(name);
    // The lookup table names the imports; without one the address table does.
    const uint32_t names = lookup ? lookup : slots;
    for (uint32_t i = 0;; ++i) {
      const uint32_t thunk = Read<uint32_t>(names + 4 * i);
      if (thunk == 0) break;
      Import import;
      import.dll = dll;
      import.slot_rva = slots + 4 * i;
      if (thunk & kOrdinalFlag) {
        import.ordinal = thunk & 0xFFFFu;
      } else {
        import.name = Text(thunk + 2);  // after the 16-bit hint
      }
      imports.push_back(import);
    }
  }
  return imports;
}

std::vector<std::string> PeImage::ImportNames() const {
  std::vector<std::string> names;
  for (const Import& i : Imports()) {
    names.push_back(i.dll + "!" + (i.name.empty() ? "#" + std::to_string(i.ordinal) : i.name));
  }
  return names;
}

void PeImage::BindImports(const ImportShims& shims) {
  const std::vector<Import> imports = Imports();
  std::vector<const void*> addresses;
  std::string missing;
  for (const Import& i : imports) {
    const void* address = i.name.empty() ? nullptr : shims.Find(i.dll, i.name);
    if (!address) {
      missing += missing.empty() ? "" : ", ";
      missing += i.dll + "!" + (i.name.empty() ? "#" + std::to_string(i.ordinal) : i.name);
    }
    addresses.push_back(address);
  }
  if (!missing.empty()) Fail("imports that the loader provides no shim for: " + missing);
  for (size_t n = 0; n < imports.size(); ++n) {
    const uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(addresses[n]));
    Check(imports[n].slot_rva, 4, "import address slot");
    memcpy(m_base + imports[n].slot_rva, &address, sizeof address);
  }
}

void* PeImage::FindExport(const std::string& name) const {
  if (m_exports.size == 0) return nullptr;
  const uint32_t d = m_exports.rva;
  const uint32_t function_count = Read<uint32_t>(d + 20);
  const uint32_t name_count = Read<uint32_t>(d + 24);
  const uint32_t functions = Read<uint32_t>(d + 28);
  const uint32_t names = Read<uint32_t>(d + 32);
  const uint32_t ordinals = Read<uint32_t>(d + 36);
  for (uint32_t i = 0; i < name_count; ++i) {
    if (name != Text(Read<uint32_t>(names + 4 * i))) continue;
    const uint16_t index = Read<uint16_t>(ordinals + 2 * i);
    if (index >= function_count) Fail("export " + name + " has a bad ordinal");
    const uint32_t rva = Read<uint32_t>(functions + 4 * index);
    if (rva >= m_exports.rva && rva - m_exports.rva < m_exports.size) {
      Fail("export " + name + " is forwarded to " + Text(rva) + ", which the loader does not follow");
    }
    Check(rva, 1, "export");
    return m_base + rva;
  }
  return nullptr;
}

std::vector<std::string> PeImage::ExportNames() const {
  std::vector<std::string> result;
  if (m_exports.size == 0) return result;
  const uint32_t name_count = Read<uint32_t>(m_exports.rva + 24);
  const uint32_t names = Read<uint32_t>(m_exports.rva + 32);
  for (uint32_t i = 0; i < name_count; ++i) result.emplace_back(Text(Read<uint32_t>(names + 4 * i)));
  return result;
}

void* PeImage::EntryPoint() const { return m_entry_rva ? m_base + m_entry_rva : nullptr; }

bool PeImage::Tls(PeTls* tls) const {
  if (m_tls.size == 0) return false;
  tls->raw_data_start = Read<uint32_t>(m_tls.rva);
  tls->raw_data_end = Read<uint32_t>(m_tls.rva + 4);
  tls->index_address = Read<uint32_t>(m_tls.rva + 8);
  tls->callbacks = Read<uint32_t>(m_tls.rva + 12);
  tls->zero_fill = Read<uint32_t>(m_tls.rva + 16);
  return true;
}

}  // namespace peloader
