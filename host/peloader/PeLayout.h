#pragma once
// The layout step of loading a 32-bit PE image, apart from running it: from
// the file's bytes and a zeroed memory block of the image's size, it copies
// the headers and sections into place, applies the base relocations for the
// address the block will run at, reads and checks the import, export and TLS
// tables, and binds the imports through a resolver. Every RVA, size and
// pointer taken from the file is checked against the file and the image
// before it is used; a bad file is refused with a PeLoadError naming the
// fault. It executes nothing from the image and builds on any host, so the
// fuzz target and the tests drive it on x86-64 with an ordinary buffer.

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "PeExportTable.h"
#include "PeHeaders.h"
#include "PeImportTable.h"

namespace peloader {

// The image's TLS directory, as RVAs checked against the image.
struct PeTls {
  uint32_t template_rva = 0;   // the template of each thread's data
  uint32_t template_size = 0;
  uint32_t zero_fill = 0;      // bytes of zeros after the template, at most the image size
  uint32_t index_rva = 0;      // 0, or where the loader writes the image's TLS index
  std::vector<uint32_t> callbacks;  // each inside a section, in list order
};

// The address an import binds to, 0 when nothing provides it.
using PeResolver = std::function<uint32_t(const std::string& dll, const std::string& name)>;

class PeLayout {
 public:
  // Reads and checks the headers of the `size` bytes at `file`, which must
  // stay valid until Lay returns; throws PeLoadError.
  PeLayout(const std::string& file_name, const uint8_t* file, size_t size);

  const PeHeaders& Headers() const { return m_headers; }

  // Lays the image out into `block`, Headers().ImageSize() zeroed bytes that
  // will be seen at the 32-bit address `address`. Throws PeLoadError.
  void Lay(uint8_t* block, uint32_t address);
  // Writes each import's address from `resolve` into the block. Throws
  // PeLoadError naming every import that resolves to 0; then nothing is written.
  void BindImports(const PeResolver& resolve, const std::string& refusal);

  const std::vector<PeImport>& Imports() const { return m_imports; }
  const std::vector<PeExport>& Exports() const { return m_exports; }
  const PeTls* Tls() const { return m_has_tls ? &m_tls : nullptr; }  // null: no TLS directory

 private:
  void CopySections(uint8_t* block);
  void Relocate(uint8_t* block, uint32_t delta);
  void RelocateBlock(uint8_t* block, uint32_t at, uint32_t size, uint32_t delta);
  void ReadTls(uint8_t* block, uint32_t address);

  const uint8_t* m_file;
  PeHeaders m_headers;
  uint8_t* m_block = nullptr;
  std::vector<PeImport> m_imports;
  std::vector<PeExport> m_exports;
  bool m_has_tls = false;
  PeTls m_tls;
};

}  // namespace peloader
