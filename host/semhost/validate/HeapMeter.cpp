#include "HeapMeter.h"

#include <stdlib.h>  // defines __GLIBC__ where the C library is glibc

#if defined(__SANITIZE_ADDRESS__)
#define SEMHOST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SEMHOST_ASAN 1
#endif
#endif

#if defined(SEMHOST_ASAN)
// The sanitizer runtime's count of bytes allocated and not freed, and its
// allocation hooks (not every compiler ships the header that declares them).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
#elif defined(_WIN32) || defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
unsigned long long g_allocations = 0;  // one thread allocates in a check's child; the count is a figure only
}  // namespace

#if defined(__GLIBC__) && !defined(SEMHOST_ASAN)
// The program's own malloc family: counts, then forwards to the C library's.
// The dynamic linker binds every library's calls (the module's included) to
// these definitions of the executable.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* malloc(size_t size) noexcept {
  ++g_allocations;
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
  ++g_allocations;
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) noexcept {
  ++g_allocations;
  return __libc_realloc(p, size);
}
}
#define SEMHOST_COUNTS_MALLOC 1
#endif

namespace semhost {

#if defined(SEMHOST_ASAN)

// The sanitizer's allocator serves every allocation; it keeps its own count.
bool HeapMeter::Available() { return true; }
size_t HeapMeter::InUse() { return __sanitizer_get_current_allocated_bytes(); }

#elif defined(_WIN32)

bool HeapMeter::Available() {
  _HEAPINFO entry = {};
  const int status = _heapwalk(&entry);
  return status == _HEAPOK || status == _HEAPEND;
}

size_t HeapMeter::InUse() {
  _HEAPINFO entry = {};
  size_t used = 0;
  while (_heapwalk(&entry) == _HEAPOK) {
    if (entry._useflag == _USEDENTRY) used += entry._size;
  }
  return used;
}

#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))

bool HeapMeter::Available() { return true; }

size_t HeapMeter::InUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;  // small blocks in use, and blocks mapped on their own
}

#else

bool HeapMeter::Available() { return false; }
size_t HeapMeter::InUse() { return 0; }

#endif

#if defined(SEMHOST_ASAN)

namespace {
void CountAllocation(const volatile void*, size_t) { ++g_allocations; }
void IgnoreFree(const volatile void*) {}
}  // namespace

bool HeapMeter::CountsAllocations() {
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(CountAllocation, IgnoreFree) != 0;
  return installed;
}

#elif defined(SEMHOST_COUNTS_MALLOC)

bool HeapMeter::CountsAllocations() { return true; }

#else

bool HeapMeter::CountsAllocations() { return false; }

#endif

unsigned long long HeapMeter::Allocations() { return g_allocations; }

}  // namespace semhost
