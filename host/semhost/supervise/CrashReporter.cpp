#include "CrashReporter.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "Names.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace semhost {

namespace {

using sehost::Entry;
using sehost::Side;
using sehost::TraceEntry;

// What the handlers need besides the crumbs, in fixed storage.
struct Ending {
  bool quiet = false;          // a supervised child: the parent says where it was
  bool end_with_code = false;  // EndWith: remove `remove_path`, exit with `exit_code`
  int exit_code = 0;
  char remove_path[4096] = "";
};
Ending g_ending;
const char* g_last_step_label = nullptr;  // SetStep copies a label only when it changes
Breadcrumbs g_own_crumbs;
// The crumbs in use: the process's own, or a supervised child's shared page.
Breadcrumbs* g_crumbs = &g_own_crumbs;

void CopyText(char* to, size_t size, const char* text) {
  size_t n = 0;
  while (text && text[n] && n + 1 < size) {
    to[n] = text[n];
    ++n;
  }
  to[n] = 0;
}

// A line built in fixed storage.
class Line {
 public:
  void Add(const char* text) {
    while (*text && m_length < sizeof m_text - 1) m_text[m_length++] = *text++;
    m_text[m_length] = 0;
  }
  void AddNumber(long long value) {
    char digits[24];
    int n = 0;
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value) : value;
    do {
      digits[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude && n < 22);
    if (value < 0) digits[n++] = '-';
    char text[24];
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    text[n] = 0;
    Add(text);
  }
  const char* text() const { return m_text; }
  size_t length() const { return m_length; }

 private:
  char m_text[512] = "";
  size_t m_length = 0;
};

void AddEntry(Line* line, const TraceEntry& e) {
  Family family = Family::kAudioOp;
  if (e.entry == Entry::kCallback) {
    line->Add(e.side == Side::kGui ? "gui→host " : e.side == Side::kAudio ? "audio→host " : "?→host ");
    family = e.side == Side::kGui ? Family::kGuiCallback : Family::kAudioCallback;
  } else {
    line->Add(e.side == Side::kGui ? "host→gui " : "host→audio ");
    family = e.side == Side::kGui ? Family::kGuiOp : Family::kAudioOp;
  }
  if (e.entry == Entry::kProcess) {
    line->Add("process offset=");
    line->AddNumber(e.index);
    line->Add(" frames=");
    line->AddNumber(e.value);
    return;
  }
  if (e.entry == Entry::kEvent) {
    line->Add("event type ");
    line->AddNumber(e.opcode);
    return;
  }
  const char* name = OpcodeConstant(family, e.opcode);
  if (name) {
    line->Add(name);
  } else {
    line->Add("opcode ");
    line->AddNumber(e.opcode);
  }
  line->Add(" index=");
  line->AddNumber(e.index);
  line->Add(" value=");
  line->AddNumber(e.value);
}

// The step and clock of the call under way: in a quiet run, counted from its
// first call's by the calls made since.
struct QuietCall {
  long long step;
  long long clock;
};
QuietCall QuietCallOf(const Breadcrumbs& crumbs) {
  if (!crumbs.quiet.load(std::memory_order_acquire)) return {crumbs.step, crumbs.clock};
  const uint32_t made = crumbs.outer_calls.load(std::memory_order_relaxed) - crumbs.quiet_base;
  const long long before = made > 0 ? made - 1 : 0;  // calls of the run before this one
  return {crumbs.step >= 0 ? crumbs.step + before : -1,
          crumbs.clock >= 0 ? crumbs.clock + before * crumbs.quiet_frames : -1};
}

void BuildWhere(const Breadcrumbs& crumbs, Line* line) {
  line->Add("while ");
  line->Add(crumbs.phase);
  const QuietCall call = QuietCallOf(crumbs);
  if (call.step >= 0) {
    line->Add(", ");
    line->Add(crumbs.step_label);
    line->Add(" ");
    line->AddNumber(call.step);
  }
  if (call.clock >= 0) {
    line->Add(", clock ");
    line->AddNumber(call.clock);
  }
  const int open = std::min(crumbs.open_count.load(), kMaxOpenCalls);
  if (open > 0) {
    const OpenCall& frame = crumbs.open[open - 1];
    line->Add("; in ");
    if (frame.library) {
      line->Add(frame.call);
    } else {
      AddEntry(line, frame.entry);
    }
  } else if (crumbs.has_last) {
    line->Add("; outside any call, the last was ");
    AddEntry(line, crumbs.last);
  }
}

void WriteErr(const char* text, size_t length) {
#if defined(_WIN32)
  _write(2, text, static_cast<unsigned>(length));
#else
  ssize_t ignored = write(2, text, length);
  (void)ignored;
#endif
}

void Report(const char* what) {
  if (g_ending.quiet) return;
  Line line;
  line.Add("\nsemhost: ");
  line.Add(what);
  line.Add(" ");
  BuildWhere(*g_crumbs, &line);
  line.Add("\n");
  WriteErr(line.text(), line.length());
}

// With EndWith: removes the file and ends with the code (async-signal-safe).
void EndIfAsked() {
  if (!g_ending.end_with_code || g_ending.quiet) return;  // a supervised child's parent cleans up
  if (g_ending.remove_path[0]) {
#if defined(_WIN32)
    _unlink(g_ending.remove_path);
#else
    unlink(g_ending.remove_path);
#endif
  }
  _exit(g_ending.exit_code);
}

#if defined(_WIN32)

LONG WINAPI OnException(EXCEPTION_POINTERS* info) {
  Report(info && info->ExceptionRecord && info->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW
             ? "the process crashed (stack overflow)"
             : "the process crashed (exception)");
  EndIfAsked();
  if (g_ending.quiet && info && info->ExceptionRecord) {
    // A supervised child ends here, with the exception code as its exit code,
    // as the system would end it but without handing it to a debugger or an
    // error report first: one would keep it, and the files it has open, alive
    // after the parent has seen the crash.
    TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
  }
  return EXCEPTION_CONTINUE_SEARCH;  // in process: end as the system would, a debugger may attach
}

void OnAbort(int) {
  Report("the process aborted");
  EndIfAsked();
  _exit(3);
}

#else

void OnFatal(int signal) {
  const char* what = "the process received a fatal signal";
  switch (signal) {
    case SIGSEGV: what = "the process crashed (SIGSEGV)"; break;
    case SIGBUS: what = "the process crashed (SIGBUS)"; break;
    case SIGILL: what = "the process crashed (SIGILL)"; break;
    case SIGFPE: what = "the process crashed (SIGFPE)"; break;
    case SIGABRT: what = "the process aborted (SIGABRT)"; break;
    default: break;
  }
  Report(what);
  EndIfAsked();
  // The handler was reset on entry: the signal now ends the process as it would have.
  raise(signal);
}

void OnStopRequest(int) {
  Report("stopped after the time limit");
  _exit(kExitStoppedAfterTimeLimit);
}

#endif

}  // namespace

void CrashReporter::Install() {
#if defined(_WIN32)
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(OnException);
  signal(SIGABRT, OnAbort);
#else
  static char alternate_stack[64 * 1024];  // a stack overflow still gets its line
  stack_t stack = {};
  stack.ss_sp = alternate_stack;
  stack.ss_size = sizeof alternate_stack;
  sigaltstack(&stack, nullptr);
  struct sigaction action = {};
  action.sa_handler = OnFatal;
  action.sa_flags = static_cast<int>(SA_RESETHAND | SA_ONSTACK);
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) sigaction(signal, &action, nullptr);
  struct sigaction stop = {};
  stop.sa_handler = OnStopRequest;
  stop.sa_flags = SA_ONSTACK;
  sigaction(SIGUSR1, &stop, nullptr);
#endif
}

void CrashReporter::SetPhase(const char* phase) {
  CopyText(g_crumbs->phase, sizeof g_crumbs->phase, phase);
  g_crumbs->step = -1;
  g_crumbs->clock = -1;
}

void CrashReporter::SetStep(long long step, const char* label) {
  g_crumbs->step = step;
  if (label != g_last_step_label) {
    CopyText(g_crumbs->step_label, sizeof g_crumbs->step_label, label);
    g_last_step_label = label;
  }
}

void CrashReporter::SetClock(long long clock) { g_crumbs->clock = clock; }

void CrashReporter::EndWith(int exit_code, const std::string& remove_path) {
  g_ending.exit_code = exit_code;
  CopyText(g_ending.remove_path, sizeof g_ending.remove_path, remove_path.c_str());
  g_ending.end_with_code = true;
}

void CrashReporter::Supervised(ChildWatchPage* page) {
  if (!page) return;
  g_crumbs = &page->crumbs;
  g_ending.quiet = true;
}

std::string CrashReporter::Describe(const Breadcrumbs& crumbs) {
  Line line;
  BuildWhere(crumbs, &line);
  return line.text();
}

std::atomic<uint32_t>* CrashReporter::QuietRunStarted(const TraceEntry& entry, const sehost::StandInHost& host) {
  CallStarted(entry, host);
  Breadcrumbs& crumbs = *g_crumbs;
  crumbs.quiet_base = crumbs.outer_calls.load(std::memory_order_relaxed);
  crumbs.quiet_frames = entry.value;
  crumbs.quiet.store(true, std::memory_order_release);
  return &crumbs.outer_calls;
}

void CrashReporter::QuietRunEnded(const TraceEntry& entry, const sehost::StandInHost& host) {
  Breadcrumbs& crumbs = *g_crumbs;
  const QuietCall call = QuietCallOf(crumbs);
  crumbs.step = call.step;
  crumbs.clock = call.clock;
  crumbs.quiet.store(false, std::memory_order_release);
  CallReturned(entry, host);
}

void CrashReporter::CallStarted(const TraceEntry& entry, const sehost::StandInHost&) {
  // A traced call's depth counts the host's calls only; library calls sit in between.
  Breadcrumbs& crumbs = *g_crumbs;
  const int open = crumbs.open_count.load(std::memory_order_relaxed);
  int slot = open;
  for (int i = open - 1; i >= 0; --i) {
    if (!crumbs.open[i].library && crumbs.open[i].entry.depth >= entry.depth) slot = i;
  }
  if (slot >= kMaxOpenCalls) slot = kMaxOpenCalls - 1;
  crumbs.open[slot].library = false;
  crumbs.open[slot].entry = entry;
  // One writer (this thread): a plain increment, no locked read-modify-write.
  if (slot == 0) crumbs.outer_calls.store(crumbs.outer_calls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  crumbs.open_count.store(slot + 1, std::memory_order_release);
}

void CrashReporter::CallReturned(const TraceEntry& entry, const sehost::StandInHost&) {
  Breadcrumbs& crumbs = *g_crumbs;
  for (int i = crumbs.open_count.load(std::memory_order_relaxed) - 1; i >= 0; --i) {
    if (!crumbs.open[i].library && crumbs.open[i].entry.depth == entry.depth) {
      crumbs.open_count.store(i, std::memory_order_release);
      break;
    }
  }
  crumbs.last = entry;
  crumbs.has_last = true;
}

void CrashReporter::LibraryCallStarted(const std::string& call) {
  Breadcrumbs& crumbs = *g_crumbs;
  const int open = crumbs.open_count.load(std::memory_order_relaxed);
  const int slot = open < kMaxOpenCalls ? open : kMaxOpenCalls - 1;
  OpenCall& frame = crumbs.open[slot];
  frame.library = true;
  CopyText(frame.call, sizeof frame.call, call.c_str());
  if (slot == 0) crumbs.outer_calls.store(crumbs.outer_calls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  crumbs.open_count.store(slot + 1, std::memory_order_release);
}

void CrashReporter::LibraryCallReturned(const std::string&) {
  Breadcrumbs& crumbs = *g_crumbs;
  for (int i = crumbs.open_count.load(std::memory_order_relaxed) - 1; i >= 0; --i) {
    if (crumbs.open[i].library) {
      crumbs.open_count.store(i, std::memory_order_release);
      break;
    }
  }
}

std::string CrashReporter::Where() { return Describe(*g_crumbs); }

}  // namespace semhost
