#pragma once
// The headers of a 32-bit PE file (an i386 Windows DLL), read from its bytes
// and checked before anything is laid out: the DOS, file and optional
// headers inside the file, an image size the loader is willing to allocate,
// a section table inside the headers whose sections lie inside the file and
// the image, past the headers and apart from each other, data directories
// inside the image, and an entry point inside a section. A file that breaks
// any of these is refused with a PeLoadError naming the fault.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace peloader {

struct PeDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;  // 0: the image has no such directory
};

struct PeSection {
  uint32_t rva = 0;
  uint32_t span = 0;      // bytes the section occupies in the image
  uint32_t raw_at = 0;    // file offset of its data
  uint32_t raw_copy = 0;  // bytes copied from the file; the rest of the span is zero
};

class PeHeaders {
 public:
  enum DirectoryIndex : uint32_t { kExportDir = 0, kImportDir = 1, kRelocDir = 5, kTlsDir = 9, kIatDir = 12 };
  static constexpr uint32_t kMaxImageSize = 64u << 20;  // far above any module; keeps every allocation sane
  static constexpr uint32_t kMaxSections = 96;

  // Reads the headers of the `size` bytes at `file`; throws PeLoadError
  // "<file_name>: <fault>".
  PeHeaders(const std::string& file_name, const uint8_t* file, size_t size);

  const std::string& FileName() const { return m_file_name; }
  uint32_t ImageSize() const { return m_image_size; }
  uint32_t HeadersSize() const { return m_headers_size; }
  uint32_t PreferredBase() const { return m_preferred_base; }
  uint32_t EntryRva() const { return m_entry_rva; }  // 0: no entry point
  bool RelocationsStripped() const { return m_relocations_stripped; }
  const std::vector<PeSection>& Sections() const { return m_sections; }
  PeDirectory Directory(DirectoryIndex index) const { return m_directories[index]; }

  // Throws "<what> at RVA 0x… lies outside the image" or "… lies in no
  // section" unless `rva` lies inside a section: code and exported data do.
  void CheckInSection(uint32_t rva, const std::string& what) const;
  [[noreturn]] void Fail(const std::string& why) const;

 private:
  void ReadOptionalHeader(size_t opt, uint16_t optional_size);
  void ReadSections(size_t table, uint16_t count, size_t file_size);
  void CheckDirectories() const;
  void Need(size_t at, size_t size, const char* what) const;
  uint16_t U16(size_t at) const;
  uint32_t U32(size_t at) const;

  std::string m_file_name;
  const uint8_t* m_file;
  size_t m_file_size;
  uint32_t m_image_size = 0;
  uint32_t m_headers_size = 0;
  uint32_t m_preferred_base = 0;
  uint32_t m_entry_rva = 0;
  bool m_relocations_stripped = false;
  std::vector<PeSection> m_sections;
  PeDirectory m_directories[16];
};

}  // namespace peloader
