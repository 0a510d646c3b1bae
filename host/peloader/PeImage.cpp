#include "PeImage.h"

#include <sys/mman.h>

#include <fstream>
#include <iterator>

#include "ImportShims.h"

namespace peloader {

namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

PeImage::PeImage(const std::string& path) : m_file_name(BaseName(path)) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PeLoadError(m_file_name, "cannot open " + path);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  m_layout = std::make_unique<PeLayout>(m_file_name, file.data(), file.size());
  const PeHeaders& headers = m_layout->Headers();

  // Placed at the preferred base when that range is free, anywhere otherwise.
  void* hint = reinterpret_cast<void*>(static_cast<uintptr_t>(headers.PreferredBase()));
  void* at = mmap(hint, headers.ImageSize(), PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == MAP_FAILED) throw PeLoadError(m_file_name, "cannot map " + std::to_string(headers.ImageSize()) + " bytes");
  m_base = static_cast<uint8_t*>(at);
  m_size = headers.ImageSize();
  try {
    if (Relocated() && headers.RelocationsStripped()) {
      throw PeLoadError(m_file_name, "its preferred base is taken and it has no relocations");
    }
    m_layout->Lay(m_base, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m_base)));
  } catch (...) {
    munmap(m_base, m_size);
    throw;
  }
}

PeImage::~PeImage() { munmap(m_base, m_size); }

bool PeImage::Contains(const void* address) const {
  const uintptr_t a = reinterpret_cast<uintptr_t>(address);
  const uintptr_t base = reinterpret_cast<uintptr_t>(m_base);
  return a >= base && a - base < m_size;
}

std::vector<std::string> PeImage::ImportNames() const {
  std::vector<std::string> names;
  for (const PeImport& i : m_layout->Imports()) {
    names.push_back(i.dll + "!" + (i.name.empty() ? "#" + std::to_string(i.ordinal) : i.name));
  }
  return names;
}

void PeImage::BindImports(const ImportShims& shims) {
  m_layout->BindImports(
      [&](const std::string& dll, const std::string& name) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(shims.Find(dll, name)));
      },
      "imports that the loader provides no shim for: ");
}

void* PeImage::FindExport(const std::string& name) const {
  for (const PeExport& e : m_layout->Exports()) {
    if (e.name != name) continue;
    if (!e.forwarder.empty()) {
      throw PeLoadError(m_file_name, "export " + name + " is forwarded to " + e.forwarder +
                                         ", which the loader does not follow");
    }
    return m_base + e.rva;
  }
  return nullptr;
}

std::vector<std::string> PeImage::ExportNames() const {
  std::vector<std::string> names;
  for (const PeExport& e : m_layout->Exports()) names.push_back(e.name);
  return names;
}

void* PeImage::EntryPoint() const {
  const uint32_t rva = m_layout->Headers().EntryRva();
  return rva ? m_base + rva : nullptr;
}

}  // namespace peloader
