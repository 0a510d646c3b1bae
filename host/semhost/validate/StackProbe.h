#pragma once
// Calls a module entry through a trampoline that notes the stack pointer
// before and after, on 32-bit x86 only: there a callee that removes its own
// arguments (a calling-convention mismatch) returns with the stack pointer
// moved, which a plain call would silently absorb or crash on later. The
// trampoline restores the stack pointer itself, so the caller survives the
// mismatch and can report it.

#include <stdint.h>

#include <vector>

namespace semhost {

class StackProbe {
 public:
  // True where the trampoline exists (i386); elsewhere Call answers false.
  static bool Available();
  // Calls `entry` with 32-bit `args` in the default C convention and stores
  // its 32-bit answer and how many bytes the stack pointer moved across the
  // call (0 when caller and callee agree; 4 × the argument count when the
  // callee removed its own arguments).
  static bool Call(const void* entry, const std::vector<uint32_t>& args, uint32_t* answer, int32_t* moved);
};

}  // namespace semhost
