// The KERNEL32 and msvcrt shims, called as DLL code calls them (through the
// same table the imports bind to), where Windows and the C library disagree:
// code pages, wide text, the printf rules, handles, TLS slots, failures.

#include <gtest/gtest.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "ImportShims.h"
#include "ThreadBlock.h"

namespace {

#define WINAPI __attribute__((stdcall))

using peloader::ImportShims;
using peloader::ThreadBlock;

template <typename F>
F Kernel32Shim(const char* name) {
  const void* address = ImportShims::Instance().Find("KERNEL32.dll", name);
  EXPECT_NE(address, nullptr) << name;
  return reinterpret_cast<F>(const_cast<void*>(address));
}

template <typename F>
F MsvcrtShim(const char* name) {
  const void* address = ImportShims::Instance().Find("msvcrt.dll", name);
  EXPECT_NE(address, nullptr) << name;
  return reinterpret_cast<F>(const_cast<void*>(address));
}

// Windows code runs on a thread with a thread block; so do these calls.
class Kernel32 : public ::testing::Test {
 protected:
  void SetUp() override { block = &ThreadBlock::Acquire(); }
  void TearDown() override { ThreadBlock::Release(); }
  uint32_t LastError() const { return block->LastError(); }
  ThreadBlock* block = nullptr;
};

typedef int32_t(WINAPI* MultiByteToWideCharFn)(uint32_t, uint32_t, const char*, int32_t, char16_t*, int32_t);
typedef int32_t(WINAPI* WideCharToMultiByteFn)(uint32_t, uint32_t, const char16_t*, int32_t, char*, int32_t,
                                               const char*, int32_t*);

TEST_F(Kernel32, MultiByteToWideCharDecodesUtf8AndCodePage1252) {
  auto convert = Kernel32Shim<MultiByteToWideCharFn>("MultiByteToWideChar");
  const char* utf8 = "h\xC3\xA9\xE2\x82\xAC";  // h, e acute, euro sign
  EXPECT_EQ(convert(65001, 0, utf8, -1, nullptr, 0), 4);  // the NUL counts
  char16_t out[8] = {};
  EXPECT_EQ(convert(65001, 0, utf8, -1, out, 8), 4);
  EXPECT_EQ(std::u16string(out), u"h\u00E9\u20AC");

  EXPECT_EQ(convert(0, 0, "\x80\xE9", 2, out, 8), 2);  // the ANSI code page is 1252
  EXPECT_EQ(out[0], u'\u20AC');
  EXPECT_EQ(out[1], u'\u00E9');

  EXPECT_EQ(convert(65001, 0, utf8, -1, out, 3), 0);
  EXPECT_EQ(LastError(), 122u);  // ERROR_INSUFFICIENT_BUFFER
  EXPECT_EQ(convert(65001, 8, "a\xC3(", 3, out, 8), 0);  // MB_ERR_INVALID_CHARS
  EXPECT_EQ(LastError(), 1113u);                          // ERROR_NO_UNICODE_TRANSLATION
  EXPECT_EQ(convert(65001, 0, "a\xC3(", 3, out, 8), 3);
  EXPECT_EQ(out[1], u'\uFFFD');
  EXPECT_EQ(convert(437, 0, "a", 1, out, 8), 0);
  EXPECT_EQ(LastError(), 87u);  // ERROR_INVALID_PARAMETER
}

TEST_F(Kernel32, WideCharToMultiByteEncodesAndReportsTheDefaultCharacter) {
  auto convert = Kernel32Shim<WideCharToMultiByteFn>("WideCharToMultiByte");
  char out[16] = {};
  int32_t used = -1;
  EXPECT_EQ(convert(1252, 0, u"\u20AC\u4E00x", -1, out, 16, nullptr, &used), 4);
  EXPECT_STREQ(out, "\x80?x");
  EXPECT_EQ(used, 1);
  EXPECT_EQ(convert(1252, 0, u"ab", 2, out, 16, "#", &used), 2);
  EXPECT_EQ(used, 0);
  EXPECT_EQ(convert(65001, 0, u"\u20AC\U0001F600", -1, nullptr, 0, nullptr, nullptr), 8);
  EXPECT_EQ(convert(65001, 0, u"\u20AC\U0001F600", -1, out, 16, nullptr, nullptr), 8);
  EXPECT_STREQ(out, "\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(convert(65001, 0, u"a", 1, out, 16, "?", nullptr), 0);  // UTF-8 takes no default character
  EXPECT_EQ(LastError(), 87u);
}

TEST_F(Kernel32, TlsSlotsLiveInTheThreadBlock) {
  auto alloc = Kernel32Shim<uint32_t(WINAPI*)()>("TlsAlloc");
  auto get = Kernel32Shim<void*(WINAPI*)(uint32_t)>("TlsGetValue");
  auto set = Kernel32Shim<int32_t(WINAPI*)(uint32_t, void*)>("TlsSetValue");
  auto free_slot = Kernel32Shim<int32_t(WINAPI*)(uint32_t)>("TlsFree");
  const uint32_t slot = alloc();
  ASSERT_LT(slot, ThreadBlock::kTlsSlots);
  block->SetLastError(5);
  EXPECT_EQ(get(slot), nullptr);
  EXPECT_EQ(LastError(), 0u);  // success clears the last error, so a stored null is told from a failure
  int value = 0;
  EXPECT_EQ(set(slot, &value), 1);
  EXPECT_EQ(get(slot), &value);
  EXPECT_EQ(block->TlsSlot(slot), &value);
  EXPECT_EQ(free_slot(slot), 1);
  EXPECT_EQ(free_slot(slot), 0);
  EXPECT_EQ(get(ThreadBlock::kTlsSlots), nullptr);
  EXPECT_EQ(LastError(), 87u);
}

TEST_F(Kernel32, CriticalSectionsAreRecursiveForTheirOwner) {
  auto init = Kernel32Shim<void(WINAPI*)(void*)>("InitializeCriticalSection");
  auto enter = Kernel32Shim<void(WINAPI*)(void*)>("EnterCriticalSection");
  auto leave = Kernel32Shim<void(WINAPI*)(void*)>("LeaveCriticalSection");
  uint32_t cs[6];
  init(cs);
  enter(cs);
  enter(cs);
  EXPECT_EQ(cs[2], 2u);  // recursion count
  EXPECT_EQ(cs[3], block->ThreadId());
  leave(cs);
  leave(cs);
  EXPECT_EQ(cs[3], 0u);
  EXPECT_DEATH(leave(cs), "PE loader: LeaveCriticalSection: the calling thread does not own");
}

TEST_F(Kernel32, SemaphoresCountAndTimeOut) {
  auto create = Kernel32Shim<void*(WINAPI*)(void*, int32_t, int32_t, const char16_t*)>("CreateSemaphoreW");
  auto release = Kernel32Shim<int32_t(WINAPI*)(void*, int32_t, int32_t*)>("ReleaseSemaphore");
  auto wait = Kernel32Shim<uint32_t(WINAPI*)(void*, uint32_t)>("WaitForSingleObject");
  auto close = Kernel32Shim<int32_t(WINAPI*)(void*)>("CloseHandle");
  void* semaphore = create(nullptr, 1, 2, nullptr);
  ASSERT_NE(semaphore, nullptr);
  EXPECT_EQ(wait(semaphore, 0), 0u);
  EXPECT_EQ(wait(semaphore, 0), 0x102u);  // WAIT_TIMEOUT
  int32_t previous = -1;
  EXPECT_EQ(release(semaphore, 2, &previous), 1);
  EXPECT_EQ(previous, 0);
  EXPECT_EQ(release(semaphore, 1, nullptr), 0);
  EXPECT_EQ(LastError(), 298u);  // ERROR_TOO_MANY_POSTS
  EXPECT_EQ(close(semaphore), 1);
  EXPECT_EQ(close(semaphore), 0);
  EXPECT_EQ(LastError(), 6u);  // ERROR_INVALID_HANDLE
  EXPECT_EQ(create(nullptr, 3, 2, nullptr), nullptr);
}

TEST_F(Kernel32, ModulesResolveToShimTablesAndMemoryIsReadWriteExecute) {
  auto module = Kernel32Shim<void*(WINAPI*)(const char*)>("GetModuleHandleA");
  auto proc = Kernel32Shim<const void*(WINAPI*)(void*, const char*)>("GetProcAddress");
  void* msvcrt = module("MSVCRT");
  ASSERT_NE(msvcrt, nullptr);
  EXPECT_EQ(module("C:\\Windows\\system32\\msvcrt.dll"), msvcrt);
  EXPECT_EQ(proc(msvcrt, "malloc"), ImportShims::Instance().Find("msvcrt.dll", "malloc"));
  EXPECT_EQ(proc(msvcrt, reinterpret_cast<const char*>(12)), nullptr);  // by ordinal
  EXPECT_EQ(LastError(), 127u);                                          // ERROR_PROC_NOT_FOUND
  EXPECT_NE(module(nullptr), nullptr);

  uint32_t info[7];
  int local = 0;
  EXPECT_EQ(Kernel32Shim<uint32_t(WINAPI*)(const void*, void*, uint32_t)>("VirtualQuery")(&local, info, 28), 28u);
  EXPECT_EQ(info[0], static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&local)) & ~0xFFFu);
  EXPECT_EQ(info[4], 0x1000u);  // MEM_COMMIT
  EXPECT_EQ(info[5], 0x40u);    // PAGE_EXECUTE_READWRITE
  uint32_t old = 0;
  EXPECT_EQ(Kernel32Shim<int32_t(WINAPI*)(void*, uint32_t, uint32_t, uint32_t*)>("VirtualProtect")(&local, 4, 0x02, &old),
            1);
  EXPECT_EQ(old, 0x40u);
}

// ---- msvcrt ----

struct WinFile {
  uint8_t bytes[32];
};

WinFile* Iob() { return static_cast<WinFile*>(const_cast<void*>(ImportShims::Instance().Find("msvcrt.dll", "_iob"))); }

TEST(Msvcrt, NarrowPrintfFollowsTheWindowsRules) {
  auto fprintf_shim = MsvcrtShim<int (*)(WinFile*, const char*, ...)>("fprintf");
  ::testing::internal::CaptureStderr();
  const int written = fprintf_shim(&Iob()[2], "%s %S %hs %ls|%I64d|%I32u|%p|%5s|%-3d|%c%C|%.2Lf|%%", "a", u"wide",
                                   "narrow", u"long", 1LL << 40, 7u, reinterpret_cast<void*>(0x1234), "x", 7, 'n',
                                   u'\u00E9', 2.5);
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "a wide narrow long|1099511627776|7|00001234|    x|7  |n\xC3\xA9|2.50|%");
  EXPECT_EQ(written, static_cast<int>(out.size()));
}

TEST(Msvcrt, WideFormattingSwapsTheMeaningOfSAndCountsUnits) {
  auto snwprintf = MsvcrtShim<int (*)(char16_t*, size_t, const char16_t*, ...)>("_snwprintf");
  char16_t buffer[32];
  EXPECT_EQ(snwprintf(buffer, 32, u"%s-%S-%d-%s", u"w\u20AC", "n", 42, static_cast<const char16_t*>(nullptr)), 14);
  EXPECT_EQ(std::u16string(buffer), u"w\u20AC-n-42-(null)");

  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(snwprintf(buffer, 6, u"abcdef"), 6);  // fits exactly: no NUL
  EXPECT_EQ(buffer[6], u'#');
  EXPECT_EQ(snwprintf(buffer, 4, u"abcdef"), -1);  // cut
  EXPECT_EQ(std::u16string(buffer, 4), u"abcd");
  EXPECT_EQ(buffer[4], u'e');  // untouched from the previous call

  auto swprintf_shim = MsvcrtShim<int (*)(char16_t*, const char16_t*, ...)>("swprintf");
  EXPECT_EQ(swprintf_shim(buffer, u"<%d>", -5), 4);
  EXPECT_EQ(std::u16string(buffer), u"<-5>");
}

TEST(Msvcrt, WcstolReadsSixteenBitTextAndReportsWhereItStopped) {
  auto wcstol_shim = MsvcrtShim<long (*)(const char16_t*, char16_t**, int)>("wcstol");
  char16_t* end = nullptr;
  const char16_t hex[] = u"0x1F";
  EXPECT_EQ(wcstol_shim(hex, &end, 16), 31);
  EXPECT_EQ(end, hex + 4);
  const char16_t accented[] = u" 12\u00E9";
  EXPECT_EQ(wcstol_shim(accented, &end, 10), 12);
  EXPECT_EQ(end, accented + 3);
  const char16_t none[] = u"\u4E00";
  EXPECT_EQ(wcstol_shim(none, &end, 10), 0);
  EXPECT_EQ(end, none);
  EXPECT_EQ(wcstol_shim(u"99999999999", nullptr, 10), LONG_MAX);
  EXPECT_EQ(*MsvcrtShim<int* (*)()>("_errno")(), 34);  // ERANGE
  EXPECT_EQ(MsvcrtShim<size_t (*)(const char16_t*)>("wcslen")(u"\u00E9t\u00E9"), 3u);
}

TEST(Msvcrt, TheLocaleIsCAndStaysSo) {
  auto setlocale_shim = MsvcrtShim<char* (*)(int, const char*)>("setlocale");
  EXPECT_STREQ(setlocale_shim(0, nullptr), "C");
  EXPECT_STREQ(setlocale_shim(2, ""), "C");
  EXPECT_EQ(setlocale_shim(0, "German_Germany.1252"), nullptr);
  EXPECT_EQ(setlocale_shim(6, "C"), nullptr);  // no such category on Windows
  auto lconv = MsvcrtShim<const char* const* (*)()>("localeconv")();
  EXPECT_STREQ(lconv[0], ".");
  EXPECT_EQ(*MsvcrtShim<const int*>("__mb_cur_max"), 1);
}

int g_order[4];
int g_calls = 0;
void First() { g_order[g_calls++] = 1; }
void Second() { g_order[g_calls++] = 2; }
int ReturnsZero() { return 0; }
int ReturnsOne() { return 1; }

TEST(Msvcrt, StartUpListsRunInOrderAndSkipNulls) {
  typedef void (*VoidFunction)();
  VoidFunction list[] = {First, nullptr, Second};
  g_calls = 0;
  MsvcrtShim<void (*)(VoidFunction*, VoidFunction*)>("_initterm")(list, list + 3);
  EXPECT_EQ(g_calls, 2);
  EXPECT_EQ(g_order[0], 1);
  EXPECT_EQ(g_order[1], 2);
}

TEST(Msvcrt, DllonexitGrowsTheDllsOwnTable) {
  typedef int (*ExitFunction)();
  auto dllonexit = MsvcrtShim<ExitFunction (*)(ExitFunction, ExitFunction**, ExitFunction**)>("__dllonexit");
  ExitFunction* begin = nullptr;
  ExitFunction* end = nullptr;
  EXPECT_EQ(dllonexit(ReturnsZero, &begin, &end), ReturnsZero);
  EXPECT_EQ(dllonexit(ReturnsOne, &begin, &end), ReturnsOne);
  ASSERT_EQ(end - begin, 2);
  EXPECT_EQ(begin[0], ReturnsZero);
  EXPECT_EQ(begin[1], ReturnsOne);
  MsvcrtShim<void (*)(void*)>("free")(begin);
}

TEST(Msvcrt, AssertReportsInTheWindowsFormatAndAborts) {
  auto assert_shim = MsvcrtShim<void (*)(const char*, const char*, unsigned)>("_assert");
  EXPECT_DEATH(assert_shim("x > 0", "..\\src\\f.c", 12), "^Assertion failed: x > 0, file \\.\\.\\\\src\\\\f\\.c, line 12\n");
}

TEST(Msvcrt, AStreamOtherThanTheStandardOnesEndsTheProcessNamingTheShim) {
  WinFile other{};
  auto fputs_shim = MsvcrtShim<int (*)(const char*, WinFile*)>("fputs");
  EXPECT_DEATH(fputs_shim("x", &other), "PE loader: fputs: only the standard streams");
}

}  // namespace
