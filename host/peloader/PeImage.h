#pragma once
// A 32-bit PE image (a Windows DLL built for i386) mapped into this process:
// every section at its virtual address inside one read-write-execute mapping
// of the image's size, base relocations applied when the image could not be
// placed at its preferred base, imports bound on request. It runs no code of
// the image; PeLibrary does that. The mapping lives as long as the object.

#include <stdint.h>

#include <string>
#include <vector>

#include "PeLoadError.h"

namespace peloader {

class ImportShims;

// The image's TLS directory, with every address already relocated.
struct PeTls {
  uint32_t raw_data_start = 0;  // the template of the thread's data
  uint32_t raw_data_end = 0;
  uint32_t index_address = 0;   // where the loader writes the image's TLS index
  uint32_t callbacks = 0;       // null-terminated array of callback addresses
  uint32_t zero_fill = 0;       // bytes of zeros after the template
};

class PeImage {
 public:
  // Reads and maps the file; throws PeLoadError naming the file and the fault.
  explicit PeImage(const std::string& path);
  ~PeImage();
  PeImage(const PeImage&) = delete;
  PeImage& operator=(const PeImage&) = delete;

  const std::string& FileName() const { return m_file_name; }  // without the directory
  void* Base() const { return m_base; }
  uint32_t Size() const { return m_size; }
  uint32_t PreferredBase() const { return m_preferred_base; }
  bool Relocated() const { return reinterpret_cast<uintptr_t>(m_base) != m_preferred_base; }
  bool Contains(const void* address) const;

  // Every import as "DLL!function" (or "DLL!#ordinal"), in table order.
  std::vector<std::string> ImportNames() const;
  // Writes each import's address into the image. Throws PeLoadError naming
  // every import that `shims` does not provide; then nothing is written.
  void BindImports(const ImportShims& shims);

  // The address of the export `name`, or null when the image has none.
  void* FindExport(const std::string& name) const;
  // Every exported name, in the export table's (sorted) order.
  std::vector<std::string> ExportNames() const;
  // The entry point, or null when the image has none.
  void* EntryPoint() const;
  // The TLS directory, if the image has one.
  bool Tls(PeTls* tls) const;

 private:
  struct Directory {
    uint32_t rva = 0;
    uint32_t size = 0;
  };
  struct Import {
    std::string dll;
    std::string name;     // empty for an import by ordinal
    uint32_t ordinal = 0;
    uint32_t slot_rva = 0;  // the address-table entry to fill
  };

  void Map(const std::vector<uint8_t>& file);
  void Relocate();
  std::vector<Import> Imports() const;
  // `size` bytes at `rva` lie inside the image; throws otherwise.
  void Check(uint32_t rva, uint32_t size, const char* what) const;
  template <typename T>
  T Read(uint32_t rva) const;
  const char* Text(uint32_t rva) const;  // a NUL-terminated name inside the image
  [[noreturn]] void Fail(const std::string& why) const;

  std::string m_file_name;
  uint8_t* m_base = nullptr;
  uint32_t m_size = 0;
  uint32_t m_preferred_base = 0;
  uint32_t m_entry_rva = 0;
  Directory m_exports;
  Directory m_imports;
  Directory m_relocations;
  Directory m_tls;
};

}  // namespace peloader
