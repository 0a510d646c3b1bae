#pragma once
// The import directory of a laid-out image, read and checked: descriptors up
// to the all-zero one, each with its DLL name and its lookup and address
// tables up to their zero entries, every name, hint and slot inside the
// image. Loops are bounded by the image and by the limits below, so no
// file makes the reading hang or grow without bound.

#include <stdint.h>

#include <string>
#include <vector>

#include "PeHeaders.h"

namespace peloader {

class PeView;

struct PeImport {
  std::string dll;
  std::string name;       // empty for an import by ordinal
  uint32_t ordinal = 0;
  uint32_t slot_rva = 0;  // the address-table entry to fill, 4 bytes inside the image
};

class PeImportTable {
 public:
  static constexpr uint32_t kMaxDlls = 1024;
  static constexpr uint32_t kMaxImports = 65536;

  // Every import of `directory`, in table order; throws PeLoadError.
  static std::vector<PeImport> Read(const PeView& view, PeDirectory directory);

 private:
  static void ReadThunks(const PeView& view, const std::string& dll, uint32_t names, uint32_t slots,
                         std::vector<PeImport>* imports);
};

}  // namespace peloader
