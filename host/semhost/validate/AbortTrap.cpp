#include "AbortTrap.h"

#include <setjmp.h>
#include <signal.h>

namespace semhost {

namespace {

#if defined(_WIN32)
jmp_buf* g_jump = nullptr;
void OnAbort(int) { longjmp(*g_jump, 1); }
#else
sigjmp_buf* g_jump = nullptr;
void OnAbort(int) { siglongjmp(*g_jump, 1); }
#endif

}  // namespace

bool CallCatchingAbort(const std::function<void()>& call) {
  volatile bool returned = false;
#if defined(_WIN32)
  jmp_buf jump;
  g_jump = &jump;
  void (*previous)(int) = signal(SIGABRT, OnAbort);
  if (setjmp(jump) == 0) {
    call();
    returned = true;
  }
  signal(SIGABRT, previous);
#else
  sigjmp_buf jump;
  g_jump = &jump;
  struct sigaction trap = {}, previous = {};
  trap.sa_handler = OnAbort;
  sigemptyset(&trap.sa_mask);
  sigaction(SIGABRT, &trap, &previous);
  if (sigsetjmp(jump, 1) == 0) {
    call();
    returned = true;
  }
  sigaction(SIGABRT, &previous, nullptr);
#endif
  g_jump = nullptr;
  return returned;
}

}  // namespace semhost
