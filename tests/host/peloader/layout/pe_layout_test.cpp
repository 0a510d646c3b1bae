// The layout step refuses every mutation of a valid DLL that would make the
// loader read, write or run outside the file or the image, naming the fault,
// and lays out the valid DLL. On i386 each mutant also goes through the
// whole loader, which must refuse it with the same message.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "PeLayout.h"
#include "PeLoadError.h"
#ifdef SE_PELOADER_RUNS_PE
#include "PeLibrary.h"
#endif

namespace {

using peloader::PeLayout;
using peloader::PeLoadError;

const std::string kDll = std::string(SE_PELOADER_FIXTURES) + "/layout.dll";
const char kUnbound[] = "imports that the loader provides no shim for: ";

// The fixture's bytes, with file offsets of the fields the mutations change.
struct Pe {
  std::vector<uint8_t> bytes;
  uint32_t U32(size_t at) const {
    uint32_t v;
    memcpy(&v, bytes.data() + at, 4);
    return v;
  }
  void Set(size_t at, uint32_t v) { memcpy(bytes.data() + at, &v, 4); }
  size_t Opt() const { return U32(0x3C) + 24; }
  size_t Dir(int index) const { return Opt() + 96 + 8 * index; }
  size_t Section(int index) const { return Opt() + (bytes[U32(0x3C) + 20] | bytes[U32(0x3C) + 21] << 8) + 40 * index; }
  int SectionCount() const { return bytes[U32(0x3C) + 6]; }
  uint32_t Va(uint32_t rva) const { return U32(Opt() + 28) + rva; }  // at the preferred base
  size_t At(uint32_t rva) const {  // the file offset of an RVA inside a section's data
    for (int i = 0; i < SectionCount(); ++i) {
      const size_t s = Section(i);
      if (rva >= U32(s + 12) && rva - U32(s + 12) < U32(s + 16)) return U32(s + 20) + rva - U32(s + 12);
    }
    ADD_FAILURE() << "RVA " << rva << " has no file data";
    return 0;
  }
  size_t DirData(int index, uint32_t offset = 0) const { return At(U32(Dir(index)) + offset); }
};

Pe Fixture() {
  std::ifstream in(kDll, std::ios::binary);
  return Pe{std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
}

// Lays `bytes` out 64 KiB above the preferred base, so relocations apply, and
// binds the one import the fixture has; the refusal's message, "" if none.
std::string Refusal(const std::vector<uint8_t>& bytes, const std::function<void(const PeLayout&)>& inspect = {}) {
  try {
    PeLayout layout("layout.dll", bytes.data(), bytes.size());
    std::vector<uint8_t> block(layout.Headers().ImageSize());
    layout.Lay(block.data(), layout.Headers().PreferredBase() + 0x10000);
    layout.BindImports([](const std::string& dll, const std::string& name) {
      return dll == "KERNEL32.dll" && name == "GetLastError" ? 0x1000u : 0u;
    }, kUnbound);
    if (inspect) inspect(layout);
  } catch (const PeLoadError& e) {
    return e.what();
  }
  return "";
}

// The import directory moved into the last section, whose data up to the
// image's end are copies of the first descriptor: no terminator anywhere.
void DescriptorsWithoutTerminator(Pe& pe) {
  const size_t last = pe.Section(pe.SectionCount() - 1);
  const uint32_t rva = pe.U32(last + 12), raw = pe.U32(last + 16), at = pe.U32(last + 20);
  pe.Set(last + 8, raw);
  pe.Set(pe.Opt() + 56, rva + raw);
  for (uint32_t i = 0; i < raw; ++i) pe.bytes[at + i] = pe.bytes[pe.DirData(1) + i % 20];
  pe.Set(pe.Dir(5) + 4, 0);
  pe.Set(pe.Dir(1), rva);
  pe.Set(pe.Dir(1) + 4, 20);
}

struct Mutation {
  const char* name;
  std::function<void(Pe&)> apply;
  const char* refusal;  // the stable part of the message
};

const Mutation kMutations[] = {
    {"EntryPastTheImage", [](Pe& p) { p.Set(p.Opt() + 16, 0x10000); },
     "the entry point at RVA 0x10000 lies outside the image"},
    {"EntryInTheHeaders", [](Pe& p) { p.Set(p.Opt() + 16, 0x10); }, "the entry point at RVA 0x10 lies in no section"},
    {"HugeImage", [](Pe& p) { p.Set(p.Opt() + 56, 0xFFFFF000); },
     "its image size of 0xfffff000 bytes exceeds the loader's limit of 0x4000000"},
    {"HeadersLargerThanTheImage", [](Pe& p) { p.Set(p.Opt() + 60, 0x100000); }, "are larger than the image"},
    {"TooManySections", [](Pe& p) { p.bytes[p.U32(0x3C) + 6] = 0xFF; }, "its 255 sections exceed the limit of 96"},
    {"SectionOverlapsTheHeaders", [](Pe& p) { p.Set(p.Section(0) + 12, 0x100); }, "section 1 at RVA 0x100 ("},
    {"SectionsOverlap", [](Pe& p) { p.Set(p.Section(1) + 12, p.U32(p.Section(0) + 12) + 4); },
     "overlaps the section at RVA"},
    {"HugeVirtualSize", [](Pe& p) { p.Set(p.Section(0) + 8, 0xFFFFFFF0); }, "(0xfffffff0 bytes) lies outside the image"},
    {"SectionDataOutsideTheFile", [](Pe& p) { p.Set(p.Section(0) + 20, 0x100000); },
     "has its data at file offset 0x100000"},
    {"TruncatedFile", [](Pe& p) { p.bytes.resize(p.bytes.size() - 64); }, "outside the file"},
    {"DirectoryOutsideTheImage", [](Pe& p) { p.Set(p.Dir(5) + 4, 0xFFFFFF00); },
     "the relocation directory at RVA"},
    {"TlsCallbackListOutside", [](Pe& p) { p.Set(p.DirData(9, 12), p.Va(0x100000)); },
     "the TLS callback list at RVA 0x100000 lies outside the image"},
    {"TlsCallbackOutside", [](Pe& p) { p.Set(p.At(p.U32(p.DirData(9, 12)) - p.Va(0)), p.Va(0x200000)); },
     "the TLS callback at RVA 0x200000 lies outside the image"},
    {"TlsTemplateOutside", [](Pe& p) { p.Set(p.DirData(9, 4), p.Va(0x100000)); }, "the TLS template at RVA"},
    {"TlsTemplateReversed", [](Pe& p) { p.Set(p.DirData(9, 4), p.U32(p.DirData(9)) - 4); },
     "the TLS template ends before it starts"},
    {"TlsIndexOutside", [](Pe& p) { p.Set(p.DirData(9, 8), p.Va(0x100000)); },
     "the TLS index slot at RVA 0x100000 (0x4 bytes) lies outside the image"},
    {"TlsHugeZeroFill", [](Pe& p) { p.Set(p.DirData(9, 16), 0xFFFFFFF0); },
     "the TLS zero fill of 0xfffffff0 bytes is larger than the image"},
    {"TlsDirectoryTooShort", [](Pe& p) { p.Set(p.Dir(9) + 4, 8); }, "is shorter than 24 bytes"},
    {"RelocationBlockOfSizeZero", [](Pe& p) { p.Set(p.DirData(5, 4), 0); },
     "has size 0x0, less than its 8-byte header"},
    {"RelocationBlockPastTheDirectory", [](Pe& p) { p.Set(p.DirData(5, 4), 0x1000); },
     "(0x1000 bytes) runs past the relocation directory"},
    {"RelocationTargetOutside", [](Pe& p) { p.Set(p.DirData(5), 0x100000); }, "the relocation target at RVA 0x100"},
    {"ImportDescriptorsWithoutTerminator", DescriptorsWithoutTerminator,
     "has no terminating descriptor inside the image"},
    {"ImportDllNameOutside", [](Pe& p) { p.Set(p.DirData(1, 12), 0x100000); },
     "its DLL name at RVA 0x100000 lies outside the image"},
    {"ImportNameOutside", [](Pe& p) { p.Set(p.At(p.U32(p.DirData(1))), 0x100000); },
     "the hint of import 0 of KERNEL32.dll at RVA 0x100000 (0x2 bytes) lies outside the image"},
    {"ImportSlotsOutside", [](Pe& p) { p.Set(p.DirData(1, 16), 0x100000); },
     "the import address slot of KERNEL32.dll!GetLastError at RVA 0x100000 lies outside the image"},
    {"IatWithoutImportDirectory", [](Pe& p) { p.Set(p.Dir(1), 0), p.Set(p.Dir(1) + 4, 0); },
     "it has an import address table but no import directory"},
    {"ImportWithoutShim", [](Pe& p) { p.bytes[p.At(p.U32(p.At(p.U32(p.DirData(1)))) + 2 + 11)] = 'x'; },
     "imports that the loader provides no shim for: KERNEL32.dll!GetLastErrox"},
    {"ExportDirectoryOutside", [](Pe& p) { p.Set(p.Dir(0), p.U32(p.Opt() + 56) - 8), p.Set(p.Dir(0) + 4, 8); },
     "the export directory at RVA"},
    {"ExportNameTableOutside", [](Pe& p) { p.Set(p.DirData(0, 32), 0x100000); },
     "the export name table at RVA 0x100000"},
    {"ExportOrdinalPastTheTable", [](Pe& p) { p.bytes[p.At(p.U32(p.DirData(0, 36)))] = 9; },
     "export layout_error has ordinal index 9, past the 2 entries of the export address table"},
    {"ExportAddressOutside", [](Pe& p) { p.Set(p.At(p.U32(p.DirData(0, 28))), 0x100000); },
     "export layout_error at RVA 0x100000 lies outside the image"},
};

void PrintTo(const Mutation& m, std::ostream* out) { *out << m.name; }

class Mutated : public ::testing::TestWithParam<Mutation> {};

TEST_P(Mutated, IsRefusedNamingTheFault) {
  Pe pe = Fixture();
  ASSERT_FALSE(pe.bytes.empty()) << kDll << " was not built (no MinGW compiler found at configure time)";
  GetParam().apply(pe);
  const std::string refusal = Refusal(pe.bytes);
  EXPECT_THAT(refusal, ::testing::StartsWith("layout.dll: "));
  EXPECT_THAT(refusal, ::testing::HasSubstr(GetParam().refusal));
#ifdef SE_PELOADER_RUNS_PE
  // A file of each mutation's own: the cases run as processes side by side.
  const std::string path = ::testing::TempDir() + "layout-" + GetParam().name + ".dll";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(pe.bytes.data()), pe.bytes.size());
  try {
    peloader::PeLibrary library(path);
    ADD_FAILURE() << "the loader accepted it";
  } catch (const PeLoadError& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr(GetParam().refusal));
  }
  remove(path.c_str());
#endif
}

INSTANTIATE_TEST_SUITE_P(PeLayout, Mutated, ::testing::ValuesIn(kMutations),
                         [](const ::testing::TestParamInfo<Mutation>& info) { return info.param.name; });

TEST(PeLayout, TheValidDllLaysOutWithItsTablesRead) {
  const Pe pe = Fixture();
  ASSERT_FALSE(pe.bytes.empty()) << kDll << " was not built (no MinGW compiler found at configure time)";
  std::vector<std::string> names;
  EXPECT_EQ(Refusal(pe.bytes, [&](const PeLayout& layout) {
              for (const auto& i : layout.Imports()) names.push_back(i.dll + "!" + i.name);
              for (const auto& e : layout.Exports()) names.push_back(e.name);
              ASSERT_NE(layout.Tls(), nullptr);
              EXPECT_EQ(layout.Tls()->template_size, 8u);
              EXPECT_EQ(layout.Tls()->callbacks.size(), 1u);
            }),
            "");
  EXPECT_THAT(names, ::testing::ElementsAre("KERNEL32.dll!GetLastError", "layout_error", "layout_value"));
#ifdef SE_PELOADER_RUNS_PE
  peloader::PeLibrary library(kDll);
  EXPECT_EQ(library.Export<int (*)()>("layout_value")(), 8);  // 7, once incremented by the TLS callback
#endif
}

}  // namespace
