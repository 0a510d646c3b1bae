// The PE32 loader on DLLs built for it: a DLL with the shipped module's
// MinGW flags (static runtimes) loads, starts its runtime, runs C++ with
// exceptions, thread-locals and wide text through the shims, and unloads
// with its exit-time work done; an import without a shim fails the load by
// name; broken files fail with a reason.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <math.h>
#include <stdio.h>

#include <fstream>
#include <memory>
#include <string>

#include "ImportShims.h"
#include "PeImage.h"
#include "PeLibrary.h"
#include "ThreadBlock.h"

namespace {

using peloader::PeImage;
using peloader::PeLibrary;
using peloader::PeLoadError;
using ::testing::HasSubstr;

const std::string kFixtures = SE_PELOADER_FIXTURES;
const std::string kScratch = kFixtures + "/scratch.dll";
const std::string kUnshimmed = kFixtures + "/unshimmed_import.dll";

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

#define REQUIRE_FIXTURE(path) \
  if (!Exists(path)) GTEST_SKIP() << (path) << " was not built (no MinGW compiler found at configure time)"

// The message of the PeLoadError that loading `path` throws ("" if none).
std::string LoadFailure(const std::string& path) {
  try {
    PeLibrary library(path);
  } catch (const PeLoadError& e) {
    return e.what();
  }
  return "";
}

class ScratchDll : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FIXTURE(kScratch);
    library = std::make_unique<PeLibrary>(kScratch);
  }
  template <typename F>
  F Get(const char* name) {
    return library->Export<F>(name);
  }
  std::unique_ptr<PeLibrary> library;
};

TEST_F(ScratchDll, RuntimeStartUpBuiltTheStaticObjects) {
  EXPECT_EQ(Get<int (*)()>("scratch_static_value")(), 1234);
}

TEST_F(ScratchDll, UnloadRunsTheStaticDestructorsAndTheOnexitList) {
  int destructor_flag = 0;
  int onexit_flag = 0;
  Get<void (*)(int*)>("scratch_on_unload")(&destructor_flag);
  EXPECT_EQ(Get<int (*)(int*)>("scratch_onexit")(&onexit_flag), 1);
  library.reset();
  EXPECT_EQ(destructor_flag, 77);
  EXPECT_EQ(onexit_flag, 1);
}

TEST_F(ScratchDll, CxxRuntimeWorksInsideTheDll) {
  EXPECT_EQ(Get<int (*)(const char*, const char*)>("scratch_string_length")("abc", "defg"), 7);
  EXPECT_EQ(Get<int (*)(int)>("scratch_new_delete")(100), 4950);
  // Thrown and caught inside the DLL; what() is "thrown inside the DLL" (21 characters).
  EXPECT_EQ(Get<int (*)(int)>("scratch_catch")(4), 25);
  EXPECT_EQ(Get<int (*)(int)>("scratch_catch")(0), 0);
}

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// semhost's leak check reads the C library's allocator statistics: the DLL's
// heap must be the process's heap, not one the loader keeps aside.
TEST_F(ScratchDll, HeapBlocksOfTheDllShowInTheAllocatorStatistics) {
  // Looked up first: the names' own strings must not count.
  auto allocate = Get<char* (*)(int)>("scratch_allocate");
  auto release = Get<void (*)(char*)>("scratch_release");
  const size_t before = HeapInUse();
  char* block = allocate(100000);
  EXPECT_GE(HeapInUse() - before, 100000u);
  release(block);
  EXPECT_EQ(HeapInUse(), before);
}

TEST_F(ScratchDll, ThreadLocalsKeepTheirValueBetweenCalls) {
  auto next = Get<int (*)()>("scratch_thread_local");
  EXPECT_EQ(next(), 6);
  EXPECT_EQ(next(), 7);
}

TEST_F(ScratchDll, MathMatchesTheCLibraryWhereTheResultIsExact) {
  auto math = Get<double (*)(int, double)>("scratch_math");
  EXPECT_EQ(math(0, 0.0), 1.0);
  EXPECT_EQ(math(1, 0.0), 0.0);
  EXPECT_EQ(math(2, 2.25), 1.5);
  EXPECT_TRUE(isnan(math(2, -1.0)));
  EXPECT_EQ(math(3, 0.7), tan(0.7));  // tan is msvcrt's, bound to the C library's
}

TEST_F(ScratchDll, WideTextIsSixteenBitsWide) {
  int consumed = -1;
  EXPECT_EQ(Get<long (*)(const char16_t*, int*)>("scratch_wcstol")(u"  -1234x", &consumed), -1234);
  EXPECT_EQ(consumed, 7);
  char16_t buffer[16];
  EXPECT_EQ(Get<int (*)(char16_t*, int, int)>("scratch_swprintf")(buffer, 16, 4711), 6);
  EXPECT_EQ(std::u16string(buffer), u"<4711>");
}

TEST_F(ScratchDll, ErrnoSetByTheRuntimeReachesTheDll) {
  EXPECT_EQ(Get<int (*)()>("scratch_errno_after_overflow")(), 34);  // ERANGE, the same number on Windows
}

TEST_F(ScratchDll, WritesToStderrReachTheProcessStderr) {
  ::testing::internal::CaptureStderr();
  Get<void (*)(const char*)>("scratch_print")("hello");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[hello]\n");
}

TEST_F(ScratchDll, TheDllSeesItsThreadBlockThroughFs) {
  EXPECT_EQ(Get<void* (*)()>("scratch_thread_block_self")(), peloader::ThreadBlock::Current()->Address());
  EXPECT_EQ(Get<unsigned (*)(unsigned)>("scratch_last_error_after")(1234u), 1234u);
  EXPECT_EQ(peloader::ThreadBlock::Current()->LastError(), 1234u);
}

TEST_F(ScratchDll, GetProcAddressFindsExportsAndShims) {
  auto find = Get<void* (*)(const char*, const char*)>("scratch_find");
  EXPECT_EQ(find("scratch.dll", "scratch_static_value"), library->ExportAddress("scratch_static_value"));
  EXPECT_EQ(find("SCRATCH.DLL", "scratch_static_value"), library->ExportAddress("scratch_static_value"));
  EXPECT_EQ(find("kernel32.dll", "TlsAlloc"), peloader::ImportShims::Instance().Find("KERNEL32.dll", "TlsAlloc"));
  EXPECT_EQ(find("kernel32.dll", "Beep"), nullptr);
  EXPECT_EQ(find("libgcc_s_dw2-1.dll", "__register_frame_info"), nullptr);
  EXPECT_EQ(peloader::ThreadBlock::Current()->LastError(), 126u);  // ERROR_MOD_NOT_FOUND
}

TEST_F(ScratchDll, AFailedAssertionReportsAsTheWindowsRuntimeDoes) {
  auto check = Get<void (*)(int)>("scratch_assert");
  check(3);
  EXPECT_DEATH(check(4), "^Assertion failed: v == 3, file .*scratch_dll\\.cpp, line [0-9]+\n");
}

TEST_F(ScratchDll, ASecondCopyLoadsRelocatedBesideTheFirst) {
  PeLibrary second(kScratch);
  EXPECT_TRUE(second.Image().Relocated());  // the first copy holds its preferred base or elsewhere
  EXPECT_NE(second.Image().Base(), library->Image().Base());
  EXPECT_EQ(second.Export<int (*)()>("scratch_static_value")(), 1234);
  EXPECT_EQ(second.Export<int (*)(int)>("scratch_catch")(1), 22);
  EXPECT_EQ(second.Export<int (*)()>("scratch_thread_local")(), 6);  // its own TLS
  EXPECT_EQ(Get<int (*)()>("scratch_thread_local")(), 6);
}

uint16_t FpuControlWord() {
  uint16_t word;
  __asm__ volatile("fnstcw %0" : "=m"(word));
  return word;
}

// The comparisons of results with the C library's functions assume that
// loading the DLL left the x87 precision and rounding as the program had them.
TEST(PeLoader, LoadAndUnloadKeepTheFpuControlWord) {
  REQUIRE_FIXTURE(kScratch);
  const uint16_t before = FpuControlWord();
  {
    PeLibrary library(kScratch);
    EXPECT_EQ(library.Export<double (*)(int, double)>("scratch_math")(3, 0.5), tan(0.5));
    EXPECT_EQ(FpuControlWord(), before);
  }
  EXPECT_EQ(FpuControlWord(), before);
}

TEST_F(ScratchDll, AskingForAMissingExportThrowsNamingIt) {
  EXPECT_EQ(library->Image().FindExport("makeModule"), nullptr);
  try {
    library->ExportAddress("makeModule");
    FAIL() << "no exception";
  } catch (const PeLoadError& e) {
    EXPECT_STREQ(e.what(), "scratch.dll exports no function named makeModule");
  }
}

TEST(PeLoader, AnImportWithoutAShimFailsTheLoadNamingDllAndFunction) {
  REQUIRE_FIXTURE(kUnshimmed);
  EXPECT_EQ(LoadFailure(kUnshimmed),
            "unshimmed_import.dll: imports that the loader provides no shim for: KERNEL32.dll!Beep");
  EXPECT_EQ(peloader::ThreadBlock::Current(), nullptr);  // nothing was left installed
}

TEST(PeLoader, ImportNamesListTheWholeTable) {
  REQUIRE_FIXTURE(kUnshimmed);
  PeImage image(kUnshimmed);
  EXPECT_THAT(image.ImportNames(), ::testing::ElementsAre("KERNEL32.dll!Beep"));
  EXPECT_THAT(image.ExportNames(), ::testing::ElementsAre("beep_once"));
}

TEST(PeLoader, FilesThatAreNotI386DllsFailWithAReason) {
  const std::string dir = ::testing::TempDir();
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir + name, std::ios::binary) << bytes;
    return dir + name;
  };
  EXPECT_THAT(LoadFailure(dir + "absent.dll"), HasSubstr("absent.dll: cannot open "));
  EXPECT_EQ(LoadFailure(write("short.dll", "MZ")), "short.dll: file too short for its DOS header");
  EXPECT_EQ(LoadFailure(write("text.dll", std::string(64, 'x'))), "text.dll: not a PE file (no MZ signature)");
  std::string no_pe(0x80, '\0');
  no_pe[0] = 'M', no_pe[1] = 'Z', no_pe[0x3C] = 0x40;
  EXPECT_EQ(LoadFailure(write("nope.dll", no_pe)), "nope.dll: not a PE file (no PE signature)");
  std::string amd64 = no_pe;
  amd64.replace(0x40, 6, std::string("PE\0\0\x64\x86", 6));
  EXPECT_EQ(LoadFailure(write("amd64.dll", amd64)), "amd64.dll: not an i386 image");
}

}  // namespace
