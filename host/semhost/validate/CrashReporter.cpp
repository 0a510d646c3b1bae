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

constexpr int kMaxDepth = 32;

// One call that has started and not returned: a traced call or a library call.
struct Frame {
  bool library = false;
  TraceEntry entry{};
  char call[96] = "";
};

// The calls that have started and not returned, outermost first. Written by
// the observer, read by the handlers.
struct Breadcrumbs {
  const char* phase = "starting";
  long long step = -1;
  const char* step_label = "step";
  long long clock = -1;
  bool end_with_code = false;  // EndWith: remove `remove_path`, exit with `exit_code`
  int exit_code = 0;
  char remove_path[4096] = "";
  Frame open[kMaxDepth];
  int open_count = 0;
  TraceEntry last{};
  bool has_last = false;
};
Breadcrumbs g_crumbs;

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

void BuildWhere(Line* line) {
  line->Add("while ");
  line->Add(g_crumbs.phase);
  if (g_crumbs.step >= 0) {
    line->Add(", ");
    line->Add(g_crumbs.step_label);
    line->Add(" ");
    line->AddNumber(g_crumbs.step);
  }
  if (g_crumbs.clock >= 0) {
    line->Add(", clock ");
    line->AddNumber(g_crumbs.clock);
  }
  if (g_crumbs.open_count > 0) {
    const Frame& frame = g_crumbs.open[g_crumbs.open_count - 1];
    line->Add("; in ");
    if (frame.library) {
      line->Add(frame.call);
    } else {
      AddEntry(line, frame.entry);
    }
  } else if (g_crumbs.has_last) {
    line->Add("; outside any call, the last was ");
    AddEntry(line, g_crumbs.last);
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
  Line line;
  line.Add("\nsemhost: ");
  line.Add(what);
  line.Add(" ");
  BuildWhere(&line);
  line.Add("\n");
  WriteErr(line.text(), line.length());
}

// With EndWith: removes the file and ends with the code (async-signal-safe).
void EndIfAsked() {
  if (!g_crumbs.end_with_code) return;
  if (g_crumbs.remove_path[0]) {
#if defined(_WIN32)
    _unlink(g_crumbs.remove_path);
#else
    unlink(g_crumbs.remove_path);
#endif
  }
  _exit(g_crumbs.exit_code);
}

#if defined(_WIN32)

LONG WINAPI OnException(EXCEPTION_POINTERS* info) {
  Report(info && info->ExceptionRecord && info->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW
             ? "the process crashed (stack overflow)"
             : "the process crashed (exception)");
  EndIfAsked();
  return EXCEPTION_CONTINUE_SEARCH;  // end as the system would: the parent sees the exception code
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
  g_crumbs.phase = phase;
  g_crumbs.step = -1;
  g_crumbs.clock = -1;
}

void CrashReporter::SetStep(long long step, const char* label) {
  g_crumbs.step = step;
  g_crumbs.step_label = label;
}

void CrashReporter::SetClock(long long clock) { g_crumbs.clock = clock; }

void CrashReporter::EndWith(int exit_code, const std::string& remove_path) {
  g_crumbs.exit_code = exit_code;
  const size_t n = std::min(remove_path.size(), sizeof g_crumbs.remove_path - 1);
  memcpy(g_crumbs.remove_path, remove_path.data(), n);
  g_crumbs.remove_path[n] = 0;
  g_crumbs.end_with_code = true;
}

void CrashReporter::CallStarted(const TraceEntry& entry, const sehost::StandInHost&) {
  // A traced call's depth counts the host's calls only; library calls sit in between.
  int slot = g_crumbs.open_count;
  for (int i = g_crumbs.open_count - 1; i >= 0; --i) {
    if (!g_crumbs.open[i].library && g_crumbs.open[i].entry.depth >= entry.depth) slot = i;
  }
  if (slot >= kMaxDepth) slot = kMaxDepth - 1;
  g_crumbs.open[slot].library = false;
  g_crumbs.open[slot].entry = entry;
  g_crumbs.open_count = slot + 1;
}

void CrashReporter::CallReturned(const TraceEntry& entry, const sehost::StandInHost&) {
  for (int i = g_crumbs.open_count - 1; i >= 0; --i) {
    if (!g_crumbs.open[i].library && g_crumbs.open[i].entry.depth == entry.depth) {
      g_crumbs.open_count = i;
      break;
    }
  }
  g_crumbs.last = entry;
  g_crumbs.has_last = true;
}

void CrashReporter::LibraryCallStarted(const std::string& call) {
  const int slot = g_crumbs.open_count < kMaxDepth ? g_crumbs.open_count : kMaxDepth - 1;
  Frame& frame = g_crumbs.open[slot];
  frame.library = true;
  const size_t n = std::min(call.size(), sizeof frame.call - 1);
  memcpy(frame.call, call.data(), n);
  frame.call[n] = 0;
  g_crumbs.open_count = slot + 1;
}

void CrashReporter::LibraryCallReturned(const std::string&) {
  for (int i = g_crumbs.open_count - 1; i >= 0; --i) {
    if (g_crumbs.open[i].library) {
      g_crumbs.open_count = i;
      break;
    }
  }
}

std::string CrashReporter::Where() {
  Line line;
  BuildWhere(&line);
  return line.text();
}

}  // namespace semhost
