#pragma once
// The page a supervised child and its parent share: where the child is (the
// calls into the module that have not returned, the phase, the block and the
// clock) and how it ends by its own account. The child writes it as it
// works; the parent reads it to time each call into the module and, after the
// child's end, to say where it was. Nothing in it points into either
// process's memory, so the parent reads it as it stands.
//
// POSIX: a deleted file's pages, mapped by both, the child finding it at an
// inherited descriptor. Windows: an inheritable file mapping handle.

#include <stdint.h>

#include <atomic>
#include <string>

#include "StandInHost.h"

namespace semhost {

constexpr int kMaxOpenCalls = 32;

// One call that has started and not returned: a traced call or a library call.
struct OpenCall {
  bool library = false;
  sehost::TraceEntry entry{};  // its pointers are the child's: only its numbers are read
  char call[96] = "";
};

// The calls that have started and not returned, outermost first, and what
// the run is doing. Written by the child's crash reporter.
struct Breadcrumbs {
  char phase[80] = "starting";
  long long step = -1;
  char step_label[16] = "step";
  long long clock = -1;
  OpenCall open[kMaxOpenCalls];
  std::atomic<int> open_count{0};
  std::atomic<uint32_t> outer_calls{0};  // outermost calls started so far
  // In a quiet run (sehost::QuietProcessRun) `step` and `clock` are its
  // first call's; each call adds one to outer_calls, from quiet_base on, and
  // `quiet_frames` to the clock.
  std::atomic<bool> quiet{false};
  uint32_t quiet_base = 0;
  int32_t quiet_frames = 0;
  sehost::TraceEntry last{};
  bool has_last = false;
};

struct ChildWatchPage {
  uint32_t magic = 0;
  std::atomic<int32_t> reported{0};  // 1 once the child has finished by its own account
  int32_t exit_code = 0;             // then: the exit code it ends with
  Breadcrumbs crumbs;
  uint32_t result_size = 0;  // then: the child's result text (validate's checks)
  char result[1 << 20];
};

class ChildWatch {
 public:
  // The parent's side: a new shared page (ok() false when none could be made).
  ChildWatch();
  // The child's side: the page the parent made, from its token.
  explicit ChildWatch(const std::string& token);
  ~ChildWatch();
  ChildWatch(const ChildWatch&) = delete;
  ChildWatch& operator=(const ChildWatch&) = delete;

  bool ok() const { return m_page != nullptr; }
  ChildWatchPage* page() const { return m_page; }
  // What the child is given to find the page (a descriptor or handle number);
  // the parent's handle is inherited by the children it starts.
  std::string token() const;

  // The child's own report: it ends with `exit_code`, and `result` if any.
  void Report(int exit_code, const std::string& result = "");
  // The parent's reading after the child ended.
  bool Reported(int* exit_code) const;
  std::string Result() const;
  // Clears the page for the next child.
  void Reset();

 private:
  ChildWatchPage* m_page = nullptr;
  intptr_t m_handle = -1;
};

}  // namespace semhost
