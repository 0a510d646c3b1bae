#pragma once
// Bytes of heap in use by the whole process, the module's allocations
// included, for the leak check: glibc's allocator statistics on Linux, a walk
// of the C runtime's heap on Windows. A Windows DLL run by the PE32 loader
// allocates through the C library's own malloc, so it is measured too.

#include <stddef.h>

namespace semhost {

class HeapMeter {
 public:
  // True where the process's heap can be measured.
  static bool Available();
  // Bytes handed out by the allocator and not yet freed.
  static size_t InUse();

  // True where every allocation of the process is counted: on glibc, whose
  // malloc family this program replaces with counting forwarders (the
  // module's operator new and the PE32 loader's msvcrt shims end there too),
  // and under AddressSanitizer, through its allocation hook.
  static bool CountsAllocations();
  // Allocations made since the process started (malloc, calloc, realloc,
  // operator new); 0 where they are not counted.
  static unsigned long long Allocations();
};

}  // namespace semhost
