#include "Kernel32Shims.h"

#include <sched.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "CodePages.h"
#include "ImportShims.h"
#include "PeImage.h"
#include "ThreadBlock.h"

#define WINAPI __attribute__((stdcall))

namespace peloader {

namespace {

typedef int32_t BOOL;
typedef uint32_t DWORD;

constexpr DWORD kErrorSuccess = 0;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kErrorModNotFound = 126;
constexpr DWORD kErrorProcNotFound = 127;
constexpr DWORD kErrorTooManyPosts = 298;
constexpr DWORD kErrorNoMoreItems = 259;
constexpr DWORD kErrorNoAccess = 998;
constexpr DWORD kErrorNoUnicodeTranslation = 1113;
constexpr DWORD kTlsOutOfIndexes = 0xFFFFFFFFu;
constexpr DWORD kWaitObject0 = 0;
constexpr DWORD kWaitTimeout = 0x102;
constexpr DWORD kWaitFailed = 0xFFFFFFFFu;
constexpr DWORD kInfinite = 0xFFFFFFFFu;
constexpr DWORD kMbErrInvalidChars = 0x8;
constexpr DWORD kPageExecuteReadWrite = 0x40;
constexpr DWORD kMemCommit = 0x1000;
constexpr DWORD kMemPrivate = 0x20000;
constexpr DWORD kMemImage = 0x1000000;

ThreadBlock& Block(const char* shim) {
  ThreadBlock* block = ThreadBlock::Current();
  if (!block) ImportShims::Fatal(shim, "called on a thread without a thread block");
  return *block;
}

void SetError(DWORD error) {
  if (ThreadBlock* block = ThreadBlock::Current()) block->SetLastError(error);
}

// ---- errors and threads ----

DWORD WINAPI GetLastError() { return Block("GetLastError").LastError(); }
void WINAPI SetLastError(DWORD error) { Block("SetLastError").SetLastError(error); }

DWORD WINAPI GetCurrentThreadId() {
  ThreadBlock* block = ThreadBlock::Current();
  return block ? block->ThreadId() : static_cast<DWORD>(syscall(SYS_gettid));
}

void WINAPI Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

// ---- critical sections ----
// Windows' 24-byte CRITICAL_SECTION: debug info, lock count, recursion count,
// owning thread, lock semaphore, spin count. Ownership is taken with an atomic
// exchange on the owner field; a waiting thread yields until it is free.

struct CriticalSection {
  uint32_t debug_info;
  int32_t lock_count;
  int32_t recursion_count;
  uint32_t owning_thread;
  uint32_t lock_semaphore;
  uint32_t spin_count;
};
static_assert(sizeof(CriticalSection) == 24, "Windows layout");

void WINAPI InitializeCriticalSection(CriticalSection* cs) {
  memset(cs, 0, sizeof *cs);
  cs->lock_count = -1;
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(CriticalSection* cs, DWORD spin_count) {
  InitializeCriticalSection(cs);
  cs->spin_count = spin_count;
  return 1;
}

void WINAPI DeleteCriticalSection(CriticalSection* cs) { memset(cs, 0, sizeof *cs); }

BOOL WINAPI TryEnterCriticalSection(CriticalSection* cs) {
  const uint32_t me = GetCurrentThreadId();
  uint32_t expected = 0;
  if (__atomic_load_n(&cs->owning_thread, __ATOMIC_ACQUIRE) == me ||
      __atomic_compare_exchange_n(&cs->owning_thread, &expected, me, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
    ++cs->recursion_count;
    ++cs->lock_count;
    return 1;
  }
  return 0;
}

void WINAPI EnterCriticalSection(CriticalSection* cs) {
  while (!TryEnterCriticalSection(cs)) sched_yield();
}

void WINAPI LeaveCriticalSection(CriticalSection* cs) {
  if (cs->owning_thread != GetCurrentThreadId() || cs->recursion_count <= 0) {
    ImportShims::Fatal("LeaveCriticalSection", "the calling thread does not own the critical section");
  }
  --cs->lock_count;
  if (--cs->recursion_count == 0) __atomic_store_n(&cs->owning_thread, 0u, __ATOMIC_RELEASE);
}

// ---- semaphores and handles ----

struct Semaphore {
  int32_t count;
  int32_t maximum;
};

std::mutex g_handles_mutex;
std::set<Semaphore*> g_semaphores;

Semaphore* FindSemaphore(void* handle) {
  auto* semaphore = static_cast<Semaphore*>(handle);
  return g_semaphores.count(semaphore) ? semaphore : nullptr;
}

void* CreateSemaphore(int32_t initial, int32_t maximum, bool named) {
  if (named) ImportShims::Fatal("CreateSemaphore", "named semaphores are not supported");
  if (maximum <= 0 || initial < 0 || initial > maximum) {
    SetError(kErrorInvalidParameter);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_handles_mutex);
  Semaphore* semaphore = new Semaphore{initial, maximum};
  g_semaphores.insert(semaphore);
  return semaphore;
}

void* WINAPI CreateSemaphoreA(void*, int32_t initial, int32_t maximum, const char* name) {
  return CreateSemaphore(initial, maximum, name != nullptr);
}

void* WINAPI CreateSemaphoreW(void*, int32_t initial, int32_t maximum, const char16_t* name) {
  return CreateSemaphore(initial, maximum, name != nullptr);
}

BOOL WINAPI ReleaseSemaphore(void* handle, int32_t release, int32_t* previous) {
  std::lock_guard<std::mutex> lock(g_handles_mutex);
  Semaphore* semaphore = FindSemaphore(handle);
  if (!semaphore) {
    SetError(kErrorInvalidHandle);
    return 0;
  }
  if (release <= 0 || release > semaphore->maximum - semaphore->count) {
    SetError(release <= 0 ? kErrorInvalidParameter : kErrorTooManyPosts);
    return 0;
  }
  if (previous) *previous = semaphore->count;
  semaphore->count += release;
  return 1;
}

DWORD WINAPI WaitForSingleObject(void* handle, DWORD milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(g_handles_mutex);
      Semaphore* semaphore = FindSemaphore(handle);
      if (!semaphore) {
        SetError(kErrorInvalidHandle);
        return kWaitFailed;
      }
      if (semaphore->count > 0) {
        --semaphore->count;
        return kWaitObject0;
      }
    }
    if (milliseconds != kInfinite && std::chrono::steady_clock::now() >= deadline) return kWaitTimeout;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

BOOL WINAPI CloseHandle(void* handle) {
  std::lock_guard<std::mutex> lock(g_handles_mutex);
  Semaphore* semaphore = FindSemaphore(handle);
  if (!semaphore) {
    SetError(kErrorInvalidHandle);
    return 0;
  }
  g_semaphores.erase(semaphore);
  delete semaphore;
  return 1;
}

// ---- thread-local storage slots ----

std::mutex g_tls_mutex;
bool g_tls_used[ThreadBlock::kTlsSlots];

DWORD WINAPI TlsAlloc() {
  std::lock_guard<std::mutex> lock(g_tls_mutex);
  for (DWORD slot = 0; slot < ThreadBlock::kTlsSlots; ++slot) {
    if (!g_tls_used[slot]) {
      g_tls_used[slot] = true;
      Block("TlsAlloc").SetTlsSlot(slot, nullptr);
      return slot;
    }
  }
  SetError(kErrorNoMoreItems);
  return kTlsOutOfIndexes;
}

BOOL WINAPI TlsFree(DWORD slot) {
  std::lock_guard<std::mutex> lock(g_tls_mutex);
  if (slot >= ThreadBlock::kTlsSlots || !g_tls_used[slot]) {
    SetError(kErrorInvalidParameter);
    return 0;
  }
  g_tls_used[slot] = false;
  return 1;
}

void* WINAPI TlsGetValue(DWORD slot) {
  ThreadBlock& block = Block("TlsGetValue");
  if (slot >= ThreadBlock::kTlsSlots) {
    block.SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  block.SetLastError(kErrorSuccess);  // lets a caller tell a stored null from a failure
  return block.TlsSlot(slot);
}

BOOL WINAPI TlsSetValue(DWORD slot, void* value) {
  ThreadBlock& block = Block("TlsSetValue");
  if (slot >= ThreadBlock::kTlsSlots) {
    block.SetLastError(kErrorInvalidParameter);
    return 0;
  }
  block.SetTlsSlot(slot, value);
  return 1;
}

// ---- modules ----

// What GetModuleHandle(NULL) names: the program, which has no PE image here.
// Readable zeros, so a caller that inspects it finds no headers.
alignas(16) const unsigned char g_program_handle[512] = {};

std::string LeafName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void* FindModule(const std::string& name) {
  void* handle = ImportShims::Instance().ModuleHandle(LeafName(name));
  if (!handle) SetError(kErrorModNotFound);
  return handle;
}

void* WINAPI GetModuleHandleA(const char* name) {
  return name ? FindModule(name) : const_cast<unsigned char*>(g_program_handle);
}

void* WINAPI GetModuleHandleW(const char16_t* name) {
  return name ? FindModule(CodePages::Utf8(name)) : const_cast<unsigned char*>(g_program_handle);
}

// Loading finds only modules that are already there; nothing is counted.
void* WINAPI LoadLibraryA(const char* name) { return name ? FindModule(name) : nullptr; }
void* WINAPI LoadLibraryW(const char16_t* name) { return name ? FindModule(CodePages::Utf8(name)) : nullptr; }
BOOL WINAPI FreeLibrary(void* handle) { return handle != nullptr; }

const void* WINAPI GetProcAddress(void* handle, const char* name) {
  // A "name" below 0x10000 is an ordinal; shims have none.
  const void* address = reinterpret_cast<uintptr_t>(name) < 0x10000
                            ? nullptr
                            : ImportShims::Instance().FindInModule(handle, name);
  if (!address) SetError(kErrorProcNotFound);
  return address;
}

// ---- memory ----

struct MemoryBasicInformation {
  uint32_t base_address;
  uint32_t allocation_base;
  uint32_t allocation_protect;
  uint32_t region_size;
  uint32_t state;
  uint32_t protect;
  uint32_t type;
};
static_assert(sizeof(MemoryBasicInformation) == 28, "Windows layout");

DWORD WINAPI VirtualQuery(const void* address, MemoryBasicInformation* info, DWORD length) {
  if (!info || length < sizeof *info) {
    SetError(kErrorInvalidParameter);
    return 0;
  }
  const uint32_t page = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)) & ~0xFFFu;
  const PeImage* image = ImportShims::Instance().ImageContaining(address);
  const uint32_t base = image ? static_cast<uint32_t>(reinterpret_cast<uintptr_t>(image->Base())) : page;
  info->base_address = page;
  info->allocation_base = base;
  info->allocation_protect = kPageExecuteReadWrite;
  info->region_size = image ? base + image->Size() - page : 0x1000;
  info->state = kMemCommit;
  info->protect = kPageExecuteReadWrite;
  info->type = image ? kMemImage : kMemPrivate;
  return sizeof *info;
}

BOOL WINAPI VirtualProtect(void*, DWORD, DWORD, DWORD* old_protect) {
  if (!old_protect) {
    SetError(kErrorNoAccess);
    return 0;
  }
  *old_protect = kPageExecuteReadWrite;  // what every page already is
  return 1;
}

// ---- code pages ----

int32_t WINAPI MultiByteToWideChar(DWORD code_page, DWORD flags, const char* bytes, int32_t size,
                                   char16_t* out, int32_t capacity) {
  const uint32_t cp = CodePages::Resolve(code_page);
  if (!cp || !bytes || size == 0 || size < -1 || capacity < 0) {
    SetError(kErrorInvalidParameter);
    return 0;
  }
  const size_t n = size == -1 ? strlen(bytes) + 1 : static_cast<size_t>(size);
  std::u16string text;
  if (!CodePages::ToUtf16(cp, bytes, n, &text, (flags & kMbErrInvalidChars) != 0)) {
    SetError(kErrorNoUnicodeTranslation);
    return 0;
  }
  if (capacity == 0) return static_cast<int32_t>(text.size());
  if (text.size() > static_cast<size_t>(capacity)) {
    SetError(kErrorInsufficientBuffer);
    return 0;
  }
  text.copy(out, text.size());
  return static_cast<int32_t>(text.size());
}

int32_t WINAPI WideCharToMultiByte(DWORD code_page, DWORD, const char16_t* text, int32_t size, char* out,
                                   int32_t capacity, const char* default_char, BOOL* used_default) {
  const uint32_t cp = CodePages::Resolve(code_page);
  const bool utf8_with_default = cp == CodePages::kUtf8 && (default_char || used_default);
  if (!cp || !text || size == 0 || size < -1 || capacity < 0 || utf8_with_default) {
    SetError(kErrorInvalidParameter);
    return 0;
  }
  const size_t n = size == -1 ? CodePages::Length(text) + 1 : static_cast<size_t>(size);
  bool used = false;
  const std::string bytes = CodePages::FromUtf16(cp, text, n, default_char ? *default_char : '?', &used);
  if (used_default) *used_default = used;
  if (capacity == 0) return static_cast<int32_t>(bytes.size());
  if (bytes.size() > static_cast<size_t>(capacity)) {
    SetError(kErrorInsufficientBuffer);
    return 0;
  }
  bytes.copy(out, bytes.size());
  return static_cast<int32_t>(bytes.size());
}

// Both supported code pages are single-byte or UTF-8: no byte leads a
// double-byte character.
BOOL WINAPI IsDBCSLeadByteEx(DWORD code_page, uint8_t) {
  if (!CodePages::Resolve(code_page)) SetError(kErrorInvalidParameter);
  return 0;
}

template <typename F>
const void* Address(F* function) {
  return reinterpret_cast<const void*>(function);
}

}  // namespace

void Kernel32Shims::Register(ImportShims& shims) {
  const struct {
    const char* name;
    const void* address;
  } table[] = {
      {"CloseHandle", Address(CloseHandle)},
      {"CreateSemaphoreA", Address(CreateSemaphoreA)},
      {"CreateSemaphoreW", Address(CreateSemaphoreW)},
      {"DeleteCriticalSection", Address(DeleteCriticalSection)},
      {"EnterCriticalSection", Address(EnterCriticalSection)},
      {"FreeLibrary", Address(FreeLibrary)},
      {"GetCurrentThreadId", Address(GetCurrentThreadId)},
      {"GetLastError", Address(GetLastError)},
      {"GetModuleHandleA", Address(GetModuleHandleA)},
      {"GetModuleHandleW", Address(GetModuleHandleW)},
      {"GetProcAddress", Address(GetProcAddress)},
      {"InitializeCriticalSection", Address(InitializeCriticalSection)},
      {"InitializeCriticalSectionAndSpinCount", Address(InitializeCriticalSectionAndSpinCount)},
      {"IsDBCSLeadByteEx", Address(IsDBCSLeadByteEx)},
      {"LeaveCriticalSection", Address(LeaveCriticalSection)},
      {"LoadLibraryA", Address(LoadLibraryA)},
      {"LoadLibraryW", Address(LoadLibraryW)},
      {"MultiByteToWideChar", Address(MultiByteToWideChar)},
      {"ReleaseSemaphore", Address(ReleaseSemaphore)},
      {"SetLastError", Address(SetLastError)},
      {"Sleep", Address(Sleep)},
      {"TlsAlloc", Address(TlsAlloc)},
      {"TlsFree", Address(TlsFree)},
      {"TlsGetValue", Address(TlsGetValue)},
      {"TlsSetValue", Address(TlsSetValue)},
      {"TryEnterCriticalSection", Address(TryEnterCriticalSection)},
      {"VirtualProtect", Address(VirtualProtect)},
      {"VirtualQuery", Address(VirtualQuery)},
      {"WaitForSingleObject", Address(WaitForSingleObject)},
      {"WideCharToMultiByte", Address(WideCharToMultiByte)},
  };
  for (const auto& entry : table) shims.Add("KERNEL32.dll", entry.name, entry.address);
}

}  // namespace peloader
