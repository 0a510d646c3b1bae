#pragma once
// Keeps where a process that runs module code is: the phase, the block and
// clock, and the calls into the module that have not returned. On a crash
// signal, an abort (a failed assertion) or the parent's request to stop after
// the time limit, it writes one line to stderr naming the phase and the
// innermost open call, then ends the way it would have. In a supervised child
// the crumbs live on the page the parent reads, and the parent says the line.
// Everything the handlers use is kept in fixed storage and written without
// allocating.

#include "CallObserver.h"
#include "ChildWatch.h"

namespace semhost {

class CrashReporter : public CallObserver {
 public:
  // Installs the handlers for the whole process (once).
  static void Install();
  // What the check is doing now; `phase` must be a static text.
  static void SetPhase(const char* phase);
  // A step number shown after the phase ("step 517", or with `label`
  // "block 517"); -1 for none. `label` must be a static text.
  static void SetStep(long long step, const char* label = "step");
  // The host's sample clock, shown after the step ("clock 700"); -1 for none.
  static void SetClock(long long clock);
  // Instead of ending the way it would have, a crash or abort removes
  // `remove_path` (when not empty; a file that must not outlive the run) and
  // ends the process with `exit_code`.
  static void EndWith(int exit_code, const std::string& remove_path);
  // A supervised child keeps its crumbs on the page its parent reads, and
  // writes no line of its own: the parent says where it was.
  static void Supervised(ChildWatchPage* page);

  // Takes quiet runs: each call of one counts as an outermost call started,
  // and the step and clock set as the run starts are its first call's.
  bool TakesQuietRuns() const override { return true; }
  std::atomic<uint32_t>* QuietRunStarted(const sehost::TraceEntry& entry, const sehost::StandInHost& host) override;
  void QuietRunEnded(const sehost::TraceEntry& entry, const sehost::StandInHost& host) override;

  void CallStarted(const sehost::TraceEntry& entry, const sehost::StandInHost& host) override;
  void CallReturned(const sehost::TraceEntry& entry, const sehost::StandInHost& host) override;
  void LibraryCallStarted(const std::string& call) override;
  void LibraryCallReturned(const std::string& answer) override;

  // The line the handlers write, for a caller outside a handler: "while
  // <phase>; in <call>".
  static std::string Where();
  // The same line for any crumbs (a supervised child's, read by its parent).
  static std::string Describe(const Breadcrumbs& crumbs);
};

// The exit code of a child stopped after its time limit.
constexpr int kExitStoppedAfterTimeLimit = 124;

}  // namespace semhost
