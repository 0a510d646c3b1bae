#pragma once
// The export directory of a laid-out image, read and checked: the function,
// name and ordinal tables inside the image, every name NUL-terminated inside
// it and the names in strictly ascending order, every ordinal inside the
// function table, every exported address inside a section, and every
// forwarder (an address inside the export directory) a name inside the
// image. The loader does not follow forwarders; it keeps them so that asking
// for one can say so.

#include <stdint.h>

#include <string>
#include <vector>

#include "PeHeaders.h"

namespace peloader {

class PeView;

struct PeExport {
  std::string name;
  uint32_t rva = 0;       // inside a section, unless forwarded
  std::string forwarder;  // "DLL.function" for a forwarded export, empty otherwise
};

class PeExportTable {
 public:
  static constexpr uint32_t kMaxExports = 65536;  // ordinals are 16 bits

  // Every named export of `directory`, in the name table's order; throws PeLoadError.
  static std::vector<PeExport> Read(const PeView& view, const PeHeaders& headers, PeDirectory directory);
};

}  // namespace peloader
