#include "PeImportTable.h"

#include "PeLoadError.h"
#include "PeView.h"

namespace peloader {

namespace {

constexpr uint32_t kDescriptorSize = 20;
constexpr uint32_t kOrdinalFlag = 0x80000000u;

}  // namespace

std::vector<PeImport> PeImportTable::Read(const PeView& view, PeDirectory directory) {
  std::vector<PeImport> imports;
  if (directory.size == 0) return imports;
  for (uint32_t n = 0;; ++n) {
    const uint64_t d = directory.rva + uint64_t{kDescriptorSize} * n;
    if (d + kDescriptorSize > view.Size()) {
      view.Fail("the import directory at RVA " + PeLoadError::Hex(directory.rva) +
                " has no terminating descriptor inside the image");
    }
    if (n == kMaxDlls) view.Fail("the import directory names more than 1024 DLLs");
    const uint32_t at = static_cast<uint32_t>(d);
    const std::string what = "the import descriptor at RVA " + PeLoadError::Hex(at);
    const uint32_t lookup = view.U32(at, what);
    const uint32_t name = view.U32(at + 12, what);
    const uint32_t slots = view.U32(at + 16, what);
    if (lookup == 0 && name == 0 && slots == 0) break;
    if (slots == 0) view.Fail(what + " has no import address table");
    const std::string dll = view.Text(name, what + ": its DLL name");
    // The lookup table names the imports; without one the address table does.
    ReadThunks(view, dll, lookup ? lookup : slots, slots, &imports);
  }
  return imports;
}

void PeImportTable::ReadThunks(const PeView& view, const std::string& dll, uint32_t names, uint32_t slots,
                               std::vector<PeImport>* imports) {
  const std::string table = "the import lookup table of " + dll + " at RVA " + PeLoadError::Hex(names);
  for (uint32_t i = 0;; ++i) {
    const uint64_t entry = names + uint64_t{4} * i;
    if (entry + 4 > view.Size()) view.Fail(table + " has no terminator inside the image");
    const uint32_t thunk = view.U32(static_cast<uint32_t>(entry), table);
    if (thunk == 0) return;
    if (imports->size() == kMaxImports) view.Fail("the image has more than 65536 imports");
    PeImport import;
    import.dll = dll;
    const uint64_t slot = slots + uint64_t{4} * i;
    if (thunk & kOrdinalFlag) {
      import.ordinal = thunk & 0xFFFFu;
    } else {
      view.Check(thunk, 2, "the hint of import " + std::to_string(i) + " of " + dll);
      import.name = view.Text(thunk + 2, "the name of import " + std::to_string(i) + " of " + dll);
    }
    const std::string shown = dll + "!" + (import.name.empty() ? "#" + std::to_string(import.ordinal) : import.name);
    if (slot + 4 > view.Size()) {
      view.Fail("the import address slot of " + shown + " at RVA " + PeLoadError::Hex(slot) +
                " lies outside the image");
    }
    import.slot_rva = static_cast<uint32_t>(slot);
    imports->push_back(import);
  }
}

}  // namespace peloader
