#pragma once
// What one check found, and what crossed the boundary while it ran: the
// check's failures, skip reason and notes, the verdict and message made of
// them, and the opcode coverage. It observes every session the check makes
// and passes each call on, in a fixed order, to the crash reporter, the trace
// (when there is one) and the check's own subscribers.

#include <stdint.h>

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "CallObserver.h"
#include "CrashReporter.h"
#include "ModuleLibrary.h"
#include "Observers.h"
#include "Session.h"

namespace semhost {

struct CheckOptions {
  int32_t module_index = 0;
  uint64_t seed = 1;
  int32_t instances = 10000;  // hygiene.instance-leak: create/close cycles per half
  int32_t steps = 5000;       // robustness.random-sequence: actions
};

enum class Verdict { kPass, kWarn, kFail, kSkip };

class CheckContext : public CallObserver {
 public:
  using CallListener = std::function<void(const sehost::TraceEntry&, const sehost::StandInHost&)>;
  using LibraryListener = std::function<void(const std::string&)>;

  // `trace`, when not null, also sees every call.
  CheckContext(const sehost::ModuleLibrary& library, const CheckOptions& options, CallObserver* trace);

  const sehost::ModuleLibrary& library() const { return m_library; }
  const CheckOptions& options() const { return m_options; }
  // A session on the module, observed by this context.
  std::unique_ptr<Session> NewSession(int32_t host_context = 0x5EC0DE);

  // What the check is doing, for a crash report; `phase` must be a static text.
  void Phase(const char* phase);
  void Fail(const std::string& problem);
  // The module may be right but most likely is not: a warning, not a failure.
  void Warn(const std::string& problem);
  void Skip(const std::string& reason);
  void Note(const std::string& note);

  // A check's own listeners for the calls of its sessions, for as long as the
  // subscription lives: declare it after whatever the listener captures.
  // A listener sees a call start after the trace has printed it, and return
  // before the trace prints the return, so what it restores is restored first.
  [[nodiscard]] sehost::Subscription OnCallStarted(CallListener listener) {
    return m_on_start.Subscribe(std::move(listener));
  }
  [[nodiscard]] sehost::Subscription OnCallReturned(CallListener listener) {
    return m_on_return.Subscribe(std::move(listener));
  }
  [[nodiscard]] sehost::Subscription OnLibraryCallStarted(LibraryListener listener) {
    return m_on_library_start.Subscribe(std::move(listener));
  }
  [[nodiscard]] sehost::Subscription OnLibraryCallReturned(LibraryListener listener) {
    return m_on_library_return.Subscribe(std::move(listener));
  }

  void CallStarted(const sehost::TraceEntry& entry, const sehost::StandInHost& host) override;
  void CallReturned(const sehost::TraceEntry& entry, const sehost::StandInHost& host) override;
  void LibraryCallStarted(const std::string& call) override;
  void LibraryCallReturned(const std::string& answer) override;

  Verdict verdict() const;
  std::string Message() const;
  // The verdict, message and coverage, as the child hands them to the parent.
  nlohmann::json Result() const;

 private:
  void Count(const sehost::TraceEntry& entry);

  const sehost::ModuleLibrary& m_library;
  CheckOptions m_options;
  CrashReporter m_crash_reporter;
  CallObserver* m_trace;
  sehost::Observers<const sehost::TraceEntry&, const sehost::StandInHost&> m_on_start;
  sehost::Observers<const sehost::TraceEntry&, const sehost::StandInHost&> m_on_return;
  sehost::Observers<const std::string&> m_on_library_start;
  sehost::Observers<const std::string&> m_on_library_return;
  std::vector<std::string> m_failures;
  std::vector<std::string> m_warnings;
  std::string m_skip;
  std::vector<std::string> m_notes;
  std::map<std::pair<int, int32_t>, int64_t> m_counts;  // (family, opcode) → calls
  int64_t m_process_calls = 0;
  int64_t m_event_calls = 0;
};

}  // namespace semhost
