#pragma once
// Replaces every global operator new and delete of a test program with the
// program's own TestAllocate and TestRelease, so that a test can count or
// refuse allocations. Include it in exactly one source of a program, which
// defines the two functions.

#include <stddef.h>

#include <new>

void* TestAllocate(size_t size);  // null refuses the allocation
void TestRelease(void* p);        // p may be null

void* operator new(size_t size) {
  void* p = TestAllocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return TestAllocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return TestAllocate(size); }
void operator delete(void* p) noexcept { TestRelease(p); }
void operator delete[](void* p) noexcept { TestRelease(p); }
void operator delete(void* p, size_t) noexcept { TestRelease(p); }
void operator delete[](void* p, size_t) noexcept { TestRelease(p); }
