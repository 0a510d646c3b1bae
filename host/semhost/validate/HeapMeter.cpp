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
// The sanitizer runtime's count of bytes allocated and not freed (not every
// compiler ships the header that declares it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#elif defined(_WIN32) || defined(__GLIBC__)
#include <malloc.h>
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

}  // namespace semhost
