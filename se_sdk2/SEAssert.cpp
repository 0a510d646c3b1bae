#include "SEAssert.h"

// The runtime's reporting function is declared by <assert.h> only while
// assertions are enabled; the framework's check is independent of NDEBUG.
#undef NDEBUG
#include <assert.h>
#include <stdio.h>
#include <stdlib.h>

namespace se {

void AssertionFailed(const char* expression, const char* file_label, unsigned line) {
#ifdef _WIN32
  _assert(expression, file_label, line);
#else
  __assert_fail(expression, file_label, line, nullptr);
#endif
  abort();  // reached only if a runtime's handler chose to return
}

void IndexFailed(const char* expression, long index, long count, const char* file_label, unsigned line) {
  // The process ends here: a buffer of its own keeps the report free of the heap.
  static char text[256];
  snprintf(text, sizeof text, "%s (index %ld, count %ld)", expression, index, count);
  AssertionFailed(text, file_label, line);
}

}  // namespace se
