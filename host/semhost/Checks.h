#pragma once
// The validator's checks of a module against the interface contract. Each
// runs in a child process of its own (see Validator); this is the child's
// side: the checks, and the context that records what a check found and what
// crossed the boundary while it ran.

#include <stdint.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "CallObserver.h"
#include "ModuleLibrary.h"
#include "Names.h"
#include "Session.h"

namespace semhost {

struct CheckOptions {
  int32_t module_index = 0;
  uint64_t seed = 1;
  int32_t instances = 10000;  // hygiene.instance-leak: create/close cycles per half
  int32_t steps = 5000;       // robustness.random-sequence: actions
};

enum class Verdict { kPass, kFail, kSkip };

class CheckContext : public CallObserver {
 public:
  // `trace`, when not null, also sees every call.
  CheckContext(const sehost::ModuleLibrary& library, const CheckOptions& options, CallObserver* trace);

  const sehost::ModuleLibrary& library() const { return m_library; }
  const CheckOptions& options() const { return m_options; }
  // A session on the module, observed by this context.
  std::unique_ptr<Session> NewSession(int32_t host_context = 0x5EC0DE);

  // What the check is doing, for a crash report; `phase` must be a static text.
  void Phase(const char* phase);
  void Fail(const std::string& problem);
  void Skip(const std::string& reason);
  void Note(const std::string& note);

  // Extra listeners a check may set for the calls of its sessions.
  std::function<void(const sehost::TraceEntry&, const sehost::StandInHost&)> on_start;
  std::function<void(const sehost::TraceEntry&, const sehost::StandInHost&)> on_return;
  std::function<void(const std::string&)> on_library_start;
  std::function<void(const std::string&)> on_library_return;

  void CallStarted(const sehost::TraceEntry& entry, const sehost::StandInHost& host) override;
  void CallReturned(const sehost::TraceEntry& entry, const sehost::StandInHost& host) override;
  void LibraryCallStarted(const std::string& call) override;
  void LibraryCallReturned(const std::string& answer) override;

  Verdict verdict() const;
  std::string Message() const;
  // The verdict, message and coverage, as the child hands them to the parent.
  nlohmann::json Result() const;

 private:
  const sehost::ModuleLibrary& m_library;
  CheckOptions m_options;
  CallObserver* m_trace;
  std::vector<std::string> m_failures;
  std::string m_skip;
  std::vector<std::string> m_notes;
  std::map<std::pair<int, int32_t>, int64_t> m_counts;  // (family, opcode) → calls
  int64_t m_process_calls = 0;
  int64_t m_event_calls = 0;
};

struct Check {
  const char* name;
  const char* description;
  void (*run)(CheckContext&);
};

// Every check, in the order the validator runs them.
const std::vector<Check>& AllChecks();
const Check* FindCheck(const std::string& name);

}  // namespace semhost
