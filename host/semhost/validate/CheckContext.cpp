#include "CheckContext.h"

#include <algorithm>

#include "Names.h"

namespace semhost {

using sehost::Entry;
using sehost::Side;
using sehost::StandInHost;
using sehost::TraceEntry;

namespace {

std::string JoinWith(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : separator) + part;
  return out;
}

}  // namespace

CheckContext::CheckContext(const sehost::ModuleLibrary& library, const CheckOptions& options, CallObserver* trace)
    : m_library(library), m_options(options), m_trace(trace) {}

std::unique_ptr<Session> CheckContext::NewSession(int32_t host_context) {
  return std::unique_ptr<Session>(new Session(m_library, m_options.module_index, this, host_context));
}

void CheckContext::Phase(const char* phase) { CrashReporter::SetPhase(phase); }

void CheckContext::Fail(const std::string& problem) { m_failures.push_back(problem); }
void CheckContext::Warn(const std::string& problem) { m_warnings.push_back(problem); }
void CheckContext::Skip(const std::string& reason) {
  if (m_skip.empty()) m_skip = reason;
}
void CheckContext::Note(const std::string& note) { m_notes.push_back(note); }

void CheckContext::Count(const TraceEntry& entry) {
  if (entry.entry == Entry::kProcess) {
    ++m_process_calls;
  } else if (entry.entry == Entry::kEvent) {
    ++m_event_calls;
  } else if (entry.side != Side::kUnknown) {
    const Family family = entry.IsCallback() ? (entry.side == Side::kGui ? Family::kGuiCallback : Family::kAudioCallback)
                                             : (entry.side == Side::kGui ? Family::kGuiOp : Family::kAudioOp);
    ++m_counts[{static_cast<int>(family), entry.opcode}];
  }
}

// The crash reporter always hears first. The trace prints a start before the
// check's listeners see it and a return after them.

void CheckContext::CallStarted(const TraceEntry& entry, const StandInHost& host) {
  m_crash_reporter.CallStarted(entry, host);
  Count(entry);
  if (m_trace) m_trace->CallStarted(entry, host);
  m_on_start.Notify(entry, host);
}

void CheckContext::CallReturned(const TraceEntry& entry, const StandInHost& host) {
  m_crash_reporter.CallReturned(entry, host);
  m_on_return.Notify(entry, host);
  if (m_trace) m_trace->CallReturned(entry, host);
}

void CheckContext::LibraryCallStarted(const std::string& call) {
  m_crash_reporter.LibraryCallStarted(call);
  if (m_trace) m_trace->LibraryCallStarted(call);
  m_on_library_start.Notify(call);
}

void CheckContext::LibraryCallReturned(const std::string& answer) {
  m_crash_reporter.LibraryCallReturned(answer);
  m_on_library_return.Notify(answer);
  if (m_trace) m_trace->LibraryCallReturned(answer);
}

Verdict CheckContext::verdict() const {
  if (!m_failures.empty()) return Verdict::kFail;
  if (!m_skip.empty()) return Verdict::kSkip;
  return m_warnings.empty() ? Verdict::kPass : Verdict::kWarn;
}

namespace {

// The first three problems, and how many more there are.
std::string FirstProblems(const std::vector<std::string>& problems) {
  std::vector<std::string> shown(problems.begin(), problems.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(problems.size(), 3)));
  std::string message = JoinWith(shown, "; ");
  if (problems.size() > 3) message += "; and " + std::to_string(problems.size() - 3) + " more";
  return message;
}

}  // namespace

std::string CheckContext::Message() const {
  if (!m_failures.empty()) return FirstProblems(m_failures);
  if (!m_skip.empty()) return m_skip;
  if (!m_warnings.empty()) return FirstProblems(m_warnings);
  return JoinWith(m_notes, "; ");
}

nlohmann::json CheckContext::Result() const {
  const Verdict v = verdict();
  nlohmann::json calls = nlohmann::json::array();
  for (const auto& count : m_counts) calls.push_back({count.first.first, count.first.second, count.second});
  const char* status = v == Verdict::kPass ? "pass" : v == Verdict::kWarn ? "warn" : v == Verdict::kFail ? "fail" : "skip";
  return {{"status", status},
          {"message", Message()},
          {"failures", m_failures},
          {"warnings", m_warnings},
          {"calls", calls},
          {"process_calls", m_process_calls},
          {"event_calls", m_event_calls}};
}

}  // namespace semhost
