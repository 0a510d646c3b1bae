#include "MsvcrtShims.h"

#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "CodePages.h"
#include "ImportShims.h"
#include "MsFormat.h"
#include "PeImage.h"

namespace peloader {

namespace {

typedef void (*VoidFunction)();
typedef int (*ExitFunction)();

// ---- FILE streams ----
// msvcrt's 32-byte FILE. Windows code reaches the standard streams as
// &_iob[0..2]; the shims map those to the C library's streams.

struct WinFile {
  char* ptr;
  int32_t count;
  char* base;
  int32_t flags;
  int32_t file;
  int32_t charbuf;
  int32_t buffer_size;
  char* temp_name;
};
static_assert(sizeof(WinFile) == 32, "Windows layout");

constexpr int kIobCount = 20;
constexpr int32_t kIoRead = 0x1;
constexpr int32_t kIoWrite = 0x2;
WinFile g_iob[kIobCount] = {
    {nullptr, 0, nullptr, kIoRead, 0, 0, 0, nullptr},
    {nullptr, 0, nullptr, kIoWrite, 1, 0, 0, nullptr},
    {nullptr, 0, nullptr, kIoWrite, 2, 0, 0, nullptr},
};

FILE* Stream(WinFile* file, const char* shim) {
  if (file == &g_iob[0]) return stdin;
  if (file == &g_iob[1]) return stdout;
  if (file == &g_iob[2]) return stderr;
  ImportShims::Fatal(shim, "only the standard streams (_iob[0..2]) are supported");
}

WinFile* IobFunc() { return g_iob; }

size_t Fwrite(const void* data, size_t size, size_t count, WinFile* file) {
  return fwrite(data, size, count, Stream(file, "fwrite"));
}

int Fputs(const char* text, WinFile* file) { return fputs(text, Stream(file, "fputs")) >= 0 ? 0 : EOF; }

int Fputc(int c, WinFile* file) { return fputc(c, Stream(file, "fputc")); }

int Fflush(WinFile* file) { return fflush(file ? Stream(file, "fflush") : nullptr); }

// Writes UTF-8 text; answers the count of 16-bit units it stands for, as the
// wide functions count.
int WriteWide(const std::string& utf8, FILE* stream) {
  if (fwrite(utf8.data(), 1, utf8.size(), stream) != utf8.size()) return -1;
  std::u16string units;
  CodePages::ToUtf16(CodePages::kUtf8, utf8.data(), utf8.size(), &units, false);
  return static_cast<int>(units.size());
}

constexpr int kWideEof = 0xFFFF;

int Fputwc(int c, WinFile* file) {
  return WriteWide(CodePages::FromUtf16(CodePages::kUtf8, reinterpret_cast<const char16_t*>(&c), 1),
                   Stream(file, "fputwc")) < 0
             ? kWideEof
             : (c & 0xFFFF);
}

int Vfprintf(WinFile* file, const char* format, va_list args) {
  const std::string text = MsFormat::Narrow(format, args);
  return fwrite(text.data(), 1, text.size(), Stream(file, "vfprintf")) == text.size()
             ? static_cast<int>(text.size())
             : -1;
}

int Fprintf(WinFile* file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = Vfprintf(file, format, args);
  va_end(args);
  return written;
}

int Vfwprintf(WinFile* file, const char16_t* format, va_list args) {
  return WriteWide(MsFormat::Wide(format, args), Stream(file, "vfwprintf"));
}

int Fwprintf(WinFile* file, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = Vfwprintf(file, format, args);
  va_end(args);
  return written;
}

// ---- wide text ----

// msvcrt's _vsnwprintf: at most `count` units; without room for the NUL
// none is written, and -1 means the text was cut.
int Vsnwprintf(char16_t* buffer, size_t count, const char16_t* format, va_list args) {
  const std::string utf8 = MsFormat::Wide(format, args);
  std::u16string text;
  CodePages::ToUtf16(CodePages::kUtf8, utf8.data(), utf8.size(), &text, false);
  const size_t n = text.size() < count ? text.size() : count;
  text.copy(buffer, n);
  if (n < count) buffer[n] = u'\0';
  return text.size() <= count ? static_cast<int>(text.size()) : -1;
}

int Snwprintf(char16_t* buffer, size_t count, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = Vsnwprintf(buffer, count, format, args);
  va_end(args);
  return written;
}

// msvcrt's own swprintf has no count argument: the buffer must be large enough.
int Swprintf(char16_t* buffer, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = Vsnwprintf(buffer, static_cast<size_t>(INT_MAX), format, args);
  va_end(args);
  return written;
}

size_t Wcslen(const char16_t* text) { return CodePages::Length(text); }

// Parses like strtol. Only ASCII characters can belong to a number, so the
// text is read up to its first other character.
long Wcstol(const char16_t* text, char16_t** end, int base) {
  std::string ascii;
  for (const char16_t* p = text; *p && *p < 0x80; ++p) ascii += static_cast<char>(*p);
  char* ascii_end = nullptr;
  const long value = strtol(ascii.c_str(), &ascii_end, base);
  if (end) *end = const_cast<char16_t*>(text) + (ascii_end - ascii.c_str());
  return value;
}

// ---- start-up, exit and failures ----

void Initterm(VoidFunction* begin, VoidFunction* end) {
  for (VoidFunction* f = begin; f < end; ++f) {
    if (*f) (*f)();
  }
}

// A registered exit-time function: _onexit's return an int, atexit's nothing.
struct ExitEntry {
  ExitFunction with_result;
  VoidFunction without_result;
  const void* Address() const {
    return with_result ? reinterpret_cast<const void*>(with_result) : reinterpret_cast<const void*>(without_result);
  }
  void Run() const {
    if (with_result) {
      with_result();
    } else {
      without_result();
    }
  }
};

std::mutex g_exit_mutex;
std::vector<ExitEntry> g_exit_functions;

ExitFunction Onexit(ExitFunction function) {
  std::lock_guard<std::mutex> lock(g_exit_mutex);
  g_exit_functions.push_back(ExitEntry{function, nullptr});
  return function;
}

int Atexit(VoidFunction function) {
  std::lock_guard<std::mutex> lock(g_exit_mutex);
  g_exit_functions.push_back(ExitEntry{nullptr, function});
  return 0;
}

// Appends to a table that the DLL keeps itself, grown with the same
// allocator that the DLL frees it with.
ExitFunction Dllonexit(ExitFunction function, ExitFunction** begin, ExitFunction** end) {
  const size_t n = *begin ? static_cast<size_t>(*end - *begin) : 0;
  auto* table = static_cast<ExitFunction*>(realloc(*begin, (n + 1) * sizeof(ExitFunction)));
  if (!table) return nullptr;
  table[n] = function;
  *begin = table;
  *end = table + n + 1;
  return function;
}

void Assert(const char* expression, const char* file, unsigned line) {
  fprintf(stderr, "Assertion failed: %s, file %s, line %u\n", expression, file, line);
  fflush(stderr);
  abort();
}

void Wassert(const char16_t* expression, const char16_t* file, unsigned line) {
  Assert(CodePages::Utf8(expression).c_str(), CodePages::Utf8(file).c_str(), line);
}

void AmsgExit(int code) {
  fprintf(stderr, "\nruntime error R60%02d\n", code);
  fflush(stderr);
  _exit(255);
}

void SetUserMathErr(void*) {}

int* Errno() { return &errno; }

std::recursive_mutex g_locks[64];

std::recursive_mutex& RuntimeLock(int number, const char* shim) {
  if (number < 0 || number >= 64) ImportShims::Fatal(shim, "lock number " + std::to_string(number));
  return g_locks[number];
}

void Lock(int number) { RuntimeLock(number, "_lock").lock(); }
void Unlock(int number) { RuntimeLock(number, "_unlock").unlock(); }

// ---- locale ----
// The DLL sees the "C" locale only; the host program's own locale is never
// touched (msvcrt's category numbers are not the C library's anyway).

int g_mb_cur_max = 1;
int MbCurMax() { return g_mb_cur_max; }

char g_c_locale[] = "C";

char* Setlocale(int category, const char* locale) {
  if (category < 0 || category > 5) return nullptr;  // LC_ALL 0 .. LC_TIME 5
  if (!locale || strcmp(locale, "C") == 0 || locale[0] == '\0') return g_c_locale;
  return nullptr;
}

// msvcrt's struct lconv, for the "C" locale.
struct WinLconv {
  const char* decimal_point;
  const char* thousands_sep;
  const char* grouping;
  const char* int_curr_symbol;
  const char* currency_symbol;
  const char* mon_decimal_point;
  const char* mon_thousands_sep;
  const char* mon_grouping;
  const char* positive_sign;
  const char* negative_sign;
  char int_frac_digits, frac_digits, p_cs_precedes, p_sep_by_space;
  char n_cs_precedes, n_sep_by_space, p_sign_posn, n_sign_posn;
};
const WinLconv g_c_lconv = {".", "", "", "", "", "", "", "", "", "",
                            CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX};

const WinLconv* Localeconv() { return &g_c_lconv; }

template <typename F>
const void* Address(F* function) {
  return reinterpret_cast<const void*>(function);
}

}  // namespace

void MsvcrtShims::Register(ImportShims& shims) {
  typedef double (*Math)(double);
  const struct {
    const char* name;
    const void* address;
  } table[] = {
      // Bound to the C library: the same types and conventions on both sides.
      // The DLL's heap is thus the process's heap, which the C library's
      // allocator statistics measure (semhost's leak check reads them).
      {"abort", Address(abort)},
      {"atoi", Address(atoi)},
      {"calloc", Address(calloc)},
      {"free", Address(free)},
      {"malloc", Address(malloc)},
      {"realloc", Address(realloc)},
      {"memchr", Address(static_cast<const void* (*)(const void*, int, size_t)>(memchr))},
      {"memcmp", Address(memcmp)},
      {"memcpy", Address(memcpy)},
      {"memmove", Address(memmove)},
      {"memset", Address(memset)},
      {"strchr", Address(static_cast<const char* (*)(const char*, int)>(strchr))},
      {"strcmp", Address(strcmp)},
      {"strerror", Address(strerror)},
      {"strlen", Address(strlen)},
      {"strncmp", Address(strncmp)},
      {"strtol", Address(strtol)},
      {"cos", Address(static_cast<Math>(cos))},
      {"sin", Address(static_cast<Math>(sin))},
      {"sqrt", Address(static_cast<Math>(sqrt))},
      {"tan", Address(static_cast<Math>(tan))},
      {"_read", Address(read)},
      {"_close", Address(close)},
      // Shimmed.
      {"_iob", static_cast<const void*>(g_iob)},
      {"__iob_func", Address(IobFunc)},
      {"fwrite", Address(Fwrite)},
      {"fputs", Address(Fputs)},
      {"fputc", Address(Fputc)},
      {"fputwc", Address(Fputwc)},
      {"fflush", Address(Fflush)},
      {"fprintf", Address(Fprintf)},
      {"vfprintf", Address(Vfprintf)},
      {"fwprintf", Address(Fwprintf)},
      {"vfwprintf", Address(Vfwprintf)},
      {"_snwprintf", Address(Snwprintf)},
      {"_vsnwprintf", Address(Vsnwprintf)},
      {"swprintf", Address(Swprintf)},
      {"wcslen", Address(Wcslen)},
      {"wcstol", Address(Wcstol)},
      {"_initterm", Address(Initterm)},
      {"_onexit", Address(Onexit)},
      {"atexit", Address(Atexit)},
      {"__dllonexit", Address(Dllonexit)},
      {"_assert", Address(Assert)},
      {"_wassert", Address(Wassert)},
      {"_amsg_exit", Address(AmsgExit)},
      {"__setusermatherr", Address(SetUserMathErr)},
      {"_errno", Address(Errno)},
      {"_lock", Address(Lock)},
      {"_unlock", Address(Unlock)},
      {"__mb_cur_max", static_cast<const void*>(&g_mb_cur_max)},
      {"___mb_cur_max_func", Address(MbCurMax)},
      {"setlocale", Address(Setlocale)},
      {"localeconv", Address(Localeconv)},
  };
  for (const auto& entry : table) shims.Add("msvcrt.dll", entry.name, entry.address);
}

void MsvcrtShims::RunExitFunctions(const PeImage& image) {
  for (;;) {
    ExitEntry entry{nullptr, nullptr};
    {
      std::lock_guard<std::mutex> lock(g_exit_mutex);
      for (auto it = g_exit_functions.rbegin(); it != g_exit_functions.rend(); ++it) {
        if (image.Contains(it->Address())) {
          entry = *it;
          g_exit_functions.erase(std::next(it).base());
          break;
        }
      }
    }
    if (!entry.Address()) return;
    entry.Run();  // outside the lock: it may register further functions
  }
}

}  // namespace peloader
