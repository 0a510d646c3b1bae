#include "StackProbe.h"

#if defined(__i386__)

namespace {

// uint32_t StackCall(const void* entry, const uint32_t* args, int32_t count, int32_t* moved)
//
// Aligns the stack to 16 bytes at the call, pushes the arguments right to
// left, calls, and stores esp after the call minus esp at the call (the callee
// may have removed arguments). ebx, esi, edi and ebp are preserved; the stack
// is restored from ebp, whatever the callee did to esp.
__attribute__((naked, noinline)) uint32_t StackCall(const void*, const uint32_t*, int32_t, int32_t*) {
  __asm__(
      "  pushl %ebp\n"
      "  movl %esp, %ebp\n"
      "  pushl %ebx\n"
      "  pushl %esi\n"
      "  pushl %edi\n"
      "  movl 12(%ebp), %esi\n"  // args
      "  movl 16(%ebp), %ecx\n"  // count
      "  movl %ecx, %eax\n"
      "  shll $2, %eax\n"
      "  movl %esp, %edx\n"
      "  subl %eax, %edx\n"
      "  andl $-16, %edx\n"
      "  addl %eax, %edx\n"
      "  movl %edx, %esp\n"  // after pushing `count` words esp is 16-byte aligned
      "1:\n"
      "  testl %ecx, %ecx\n"
      "  jz 2f\n"
      "  decl %ecx\n"
      "  pushl (%esi,%ecx,4)\n"
      "  jmp 1b\n"
      "2:\n"
      "  movl %esp, %ebx\n"  // esp at the call
      "  call *8(%ebp)\n"
      "  movl %esp, %ecx\n"
      "  subl %ebx, %ecx\n"
      "  movl 20(%ebp), %edx\n"
      "  movl %ecx, (%edx)\n"
      "  leal -12(%ebp), %esp\n"
      "  popl %edi\n"
      "  popl %esi\n"
      "  popl %ebx\n"
      "  popl %ebp\n"
      "  ret\n");
}

}  // namespace

namespace semhost {

bool StackProbe::Available() { return true; }

bool StackProbe::Call(const void* entry, const std::vector<uint32_t>& args, uint32_t* answer, int32_t* moved) {
  *moved = 0;
  *answer = StackCall(entry, args.data(), static_cast<int32_t>(args.size()), moved);
  return true;
}

}  // namespace semhost

#else

namespace semhost {

bool StackProbe::Available() { return false; }

bool StackProbe::Call(const void*, const std::vector<uint32_t>&, uint32_t* answer, int32_t* moved) {
  *answer = 0;
  *moved = 0;
  return false;
}

}  // namespace semhost

#endif
