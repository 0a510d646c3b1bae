#pragma once
// A 32-bit PE image (a Windows DLL built for i386) mapped into this process:
// laid out by PeLayout (every section at its virtual address, base
// relocations applied for where it landed, every table checked) inside one
// read-write-execute mapping of the image's size, imports bound on request.
// It runs no code of the image; PeLibrary does that. The mapping lives as
// long as the object.

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "PeLayout.h"
#include "PeLoadError.h"

namespace peloader {

class ImportShims;

class PeImage {
 public:
  // Reads, checks and maps the file; throws PeLoadError naming the file and the fault.
  explicit PeImage(const std::string& path);
  ~PeImage();
  PeImage(const PeImage&) = delete;
  PeImage& operator=(const PeImage&) = delete;

  const std::string& FileName() const { return m_file_name; }  // without the directory
  void* Base() const { return m_base; }
  uint32_t Size() const { return m_size; }
  uint32_t PreferredBase() const { return m_layout->Headers().PreferredBase(); }
  bool Relocated() const { return reinterpret_cast<uintptr_t>(m_base) != PreferredBase(); }
  bool Contains(const void* address) const;

  // Every import as "DLL!function" (or "DLL!#ordinal"), in table order.
  std::vector<std::string> ImportNames() const;
  // Writes each import's address into the image. Throws PeLoadError naming
  // every import that `shims` does not provide; then nothing is written.
  void BindImports(const ImportShims& shims);

  // The address of the export `name`, or null when the image has none;
  // throws PeLoadError when it is forwarded to another DLL.
  void* FindExport(const std::string& name) const;
  // Every exported name, in the export table's (sorted) order.
  std::vector<std::string> ExportNames() const;
  // The entry point, or null when the image has none.
  void* EntryPoint() const;
  // The TLS directory, or null when the image has none.
  const PeTls* Tls() const { return m_layout->Tls(); }

 private:
  std::string m_file_name;
  std::unique_ptr<PeLayout> m_layout;
  uint8_t* m_base = nullptr;
  uint32_t m_size = 0;
};

}  // namespace peloader
