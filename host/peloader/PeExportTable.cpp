#include "PeExportTable.h"

#include "PeLoadError.h"
#include "PeView.h"

namespace peloader {

namespace {

constexpr uint32_t kDirectorySize = 40;

}  // namespace

std::vector<PeExport> PeExportTable::Read(const PeView& view, const PeHeaders& headers, PeDirectory directory) {
  std::vector<PeExport> exports;
  if (directory.size == 0) return exports;
  const uint32_t d = directory.rva;
  const std::string what = "the export directory";
  view.Check(d, kDirectorySize, what);
  const uint32_t function_count = view.U32(d + 20, what);
  const uint32_t name_count = view.U32(d + 24, what);
  const uint32_t functions = view.U32(d + 28, what);
  const uint32_t names = view.U32(d + 32, what);
  const uint32_t ordinals = view.U32(d + 36, what);
  if (function_count > kMaxExports || name_count > kMaxExports) {
    view.Fail("the export directory counts " + std::to_string(function_count) + " functions and " +
              std::to_string(name_count) + " names, more than 65536");
  }
  view.Check(functions, uint64_t{4} * function_count, "the export address table");
  view.Check(names, uint64_t{4} * name_count, "the export name table");
  view.Check(ordinals, uint64_t{2} * name_count, "the export ordinal table");
  for (uint32_t i = 0; i < name_count; ++i) {
    PeExport e;
    e.name = view.Text(view.U32(names + 4 * i, "the export name table"), "the name of export " + std::to_string(i));
    // Sorted as lookups by name expect; repeats cannot inflate the table.
    if (!exports.empty() && !(exports.back().name < e.name)) {
      view.Fail("the export names are not in ascending order at " + e.name);
    }
    const uint16_t index = view.U16(ordinals + 2 * i, "the export ordinal table");
    if (index >= function_count) {
      view.Fail("export " + e.name + " has ordinal index " + std::to_string(index) + ", past the " +
                std::to_string(function_count) + " entries of the export address table");
    }
    e.rva = view.U32(functions + 4 * index, "the export address table");
    if (e.rva >= directory.rva && e.rva - directory.rva < directory.size) {
      e.forwarder = view.Text(e.rva, "the forwarder of export " + e.name);
      if (e.forwarder.empty()) view.Fail("the forwarder of export " + e.name + " is empty");
    } else {
      headers.CheckInSection(e.rva, "export " + e.name);
    }
    exports.push_back(e);
  }
  return exports;
}

}  // namespace peloader
