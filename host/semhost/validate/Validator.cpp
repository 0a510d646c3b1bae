#include "Validator.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <random>

#include "Checks.h"
#include "CrashReporter.h"
#include "ExitCode.h"
#include "ModuleLibrary.h"
#include "NameFilter.h"
#include "Names.h"
#include "TempDir.h"
#include "Tracer.h"

namespace semhost {

namespace {

constexpr size_t kTraceLinesShown = 200;
// How a check's child says that the library could not be loaded.
constexpr const char* kLoadFailedPrefix = "semhost: load failed: ";

bool IsFailure(Status status) { return status == Status::kFail || status == Status::kCrashed || status == Status::kTimeout; }

// How bad a status is, for the worst of several runs.
int Severity(Status status) {
  switch (status) {
    case Status::kSkipped: return 0;
    case Status::kPass: return 1;
    case Status::kFail: return 2;
    case Status::kTimeout: return 3;
    case Status::kCrashed: return 4;
  }
  return 0;
}

// What the child said on stderr, as one line: its lines joined, long middles cut.
std::string Summary(const std::string& err) {
  std::string joined;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    std::string line = err.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) joined += (joined.empty() ? "" : " | ") + line;
    start = end + 1;
  }
  if (joined.size() > 600) joined = joined.substr(0, 280) + " … " + joined.substr(joined.size() - 280);
  return joined;
}

std::string Pad(const std::string& text, size_t width) {
  // Widths count characters: each UTF-8 sequence is one column.
  size_t columns = 0;
  for (unsigned char c : text) columns += (c & 0xC0) != 0x80 ? 1 : 0;
  return columns >= width ? text + " " : text + std::string(width - columns, ' ');
}

std::string Milliseconds(double seconds) {
  char text[32];
  snprintf(text, sizeof text, "%6.0f ms", seconds * 1000.0);
  return text;
}

std::string LastLines(const std::string& text, size_t count, size_t* omitted) {
  size_t lines = 0, at = text.size();
  while (at > 0) {
    const size_t newline = text.rfind('\n', at - 1);
    if (newline == std::string::npos) {
      at = 0;
      ++lines;
      break;
    }
    if (newline + 1 < at) ++lines;
    if (lines == count) {
      at = newline + 1;
      break;
    }
    at = newline;
  }
  *omitted = 0;
  for (size_t i = 0; i < at; ++i) *omitted += text[i] == '\n' ? 1 : 0;
  return text.substr(at);
}

const char* Arrow(Family family) {
  switch (family) {
    case Family::kAudioOp: return "host→audio";
    case Family::kGuiOp: return "host→gui";
    case Family::kAudioCallback: return "audio→host";
    case Family::kGuiCallback: return "gui→host";
  }
  return "";
}

const char* HalfOf(Family family) {
  return family == Family::kAudioOp || family == Family::kAudioCallback ? "audio" : "gui";
}

}  // namespace

const char* StatusName(Status status) {
  switch (status) {
    case Status::kPass: return "PASS";
    case Status::kFail: return "FAIL";
    case Status::kCrashed: return "CRASHED";
    case Status::kTimeout: return "TIMEOUT";
    case Status::kSkipped: return "SKIPPED";
  }
  return "?";
}

Validator::Validator(ChildRunner self, ValidateOptions options) : m_self(std::move(self)), m_options(std::move(options)) {}

std::vector<std::string> Validator::Selected(std::string* error) const {
  std::vector<std::string> names;
  const NameFilter filter(m_options.only, m_options.skip);
  if (!filter.ok()) {
    *error = filter.error();
    return names;
  }
  for (const Check& check : AllChecks()) {
    if (filter.Selects(check.name)) names.push_back(check.name);
  }
  return names;
}

std::vector<std::string> Validator::ChildArgs(const std::string& name, uint64_t seed) const {
  std::vector<std::string> args = {"--supervised-child",
                                   m_watch.token(),
                                   "__check",
                                   name,
                                   m_options.module_path,
                                   "--module",
                                   std::to_string(m_options.module_index),
                                   "--seed",
                                   std::to_string(seed),
                                   "--instances",
                                   std::to_string(m_options.instances),
                                   "--steps",
                                   std::to_string(m_options.steps)};
  if (m_options.trace) args.push_back("--trace");
  return args;
}

// The verdict of a child that reported its result.
CheckReport Validator::FromResult(CheckReport report, const nlohmann::json& result, const ChildResult& child) const {
  const std::string status = result.value("status", "");
  report.status = status == "pass" ? Status::kPass : status == "skip" ? Status::kSkipped : Status::kFail;
  report.message = result.value("message", "");
  // The result is reported after the library is unloaded; only the process's
  // own exit can come after it (a leak report of a sanitizer, say).
  if (child.end != ChildResult::End::kExited || child.exit_code != 0) {
    const std::string said = Summary(child.err);
    report.detail = child.err;
    report.message += " (then the process ended with " +
                      (child.end == ChildResult::End::kSignaled ? ChildRunner::SignalName(child.signal)
                                                                : "exit code " + std::to_string(child.exit_code)) +
                      (said.empty() ? "" : ": " + said) + ")";
  }
  for (const auto& call : result.value("calls", nlohmann::json::array())) {
    m_calls.push_back({{call[0].get<int>(), call[1].get<int32_t>()}, call[2].get<int64_t>()});
  }
  m_process_calls += result.value("process_calls", 0LL);
  m_event_calls += result.value("event_calls", 0LL);
  return report;
}

// The verdict of a child that ended without a result.
CheckReport Validator::FromEnd(CheckReport report, const ChildResult& child) const {
  const std::string said = Summary(child.err);
  const std::string after = said.empty() ? "" : ": " + said;
  report.detail = child.err;
  report.status = child.end == ChildResult::End::kTimedOut ? Status::kTimeout : Status::kCrashed;
  switch (child.end) {
    case ChildResult::End::kNotStarted:
      report.message = "the check's process did not start: " + child.start_error;
      break;
    case ChildResult::End::kTimedOut:
      report.message = "no result within " + std::to_string(m_options.timeout_ms) + " ms" + after;
      break;
    case ChildResult::End::kSignaled:
      report.message = ChildRunner::SignalName(child.signal) + after;
      break;
    case ChildResult::End::kExited: {
      const unsigned code = static_cast<unsigned>(child.exit_code);
      std::string how = "exited with code " + std::to_string(child.exit_code) + " before reporting";
#if defined(_WIN32)
      if (code >= 0xC0000000u || code == 0x80000003u) how = ChildRunner::ExceptionName(code);
      if (code == 3) how = "aborted (exit code 3)";
#endif
      (void)code;
      report.message = how + after;
      break;
    }
  }
  return report;
}

CheckReport Validator::RunCheck(const std::string& name, uint64_t seed) const {
  CheckReport report;
  report.name = name;
  if (!m_watch.ok()) {
    report.status = Status::kCrashed;
    report.message = "cannot make the page the check's child reports on";
    return report;
  }
  m_watch.Reset();
  const ChildResult child = m_self.Run(ChildArgs(name, seed), m_options.timeout_ms);
  report.seconds = child.seconds;
  if (m_options.trace) report.trace = child.out;
  const std::string text = m_watch.Result();
  if (!text.empty() && child.end != ChildResult::End::kTimedOut) {
    const nlohmann::json result = nlohmann::json::parse(text, nullptr, false);
    if (!result.is_discarded() && result.is_object() && result.contains("status")) return FromResult(report, result, child);
  }
  return FromEnd(report, child);
}

bool Validator::List(const std::vector<std::string>& names) const {
  if (m_options.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const std::string& name : names) list.push_back({{"name", name}, {"description", FindCheck(name)->description}});
    printf("%s\n", list.dump(2).c_str());
  } else {
    for (const std::string& name : names) printf("%s%s\n", Pad(name, 29).c_str(), FindCheck(name)->description);
  }
  return true;
}

uint64_t Validator::Seed() const {
  if (m_options.seed_given) return m_options.seed;
  std::random_device device;
  return (static_cast<uint64_t>(device()) ^ static_cast<uint64_t>(time(nullptr))) % 1000000000ull;
}

// The library is loaded in a child first: a library that cannot be loaded
// ends the run with its own message (exit code set), and semhost itself
// never runs module code.
bool Validator::Probe(uint64_t seed, CheckReport* probe, int* exit_code) const {
  *probe = RunCheck("load.exports", seed);
  if (probe->status == Status::kCrashed && probe->message.compare(0, 33, "the check's process did not start") == 0) {
    fprintf(stderr, "semhost validate: cannot run the checks: %s\n", probe->message.c_str());
    *exit_code = kExitFailed;
    return false;
  }
  const size_t load_failure = probe->detail.find(kLoadFailedPrefix);
  if (probe->status == Status::kCrashed && load_failure != std::string::npos) {
    fprintf(stderr, "semhost validate: %s\n", Summary(probe->detail.substr(load_failure + strlen(kLoadFailedPrefix))).c_str());
    *exit_code = kExitLoadFailed;
    return false;
  }
  return true;
}

// Every run of one check; the worst of them, with the runs' time summed.
CheckReport Validator::RunRepeated(const std::string& name, uint64_t seed, const CheckReport& probe) const {
  CheckReport worst;
  double seconds = 0.0;
  for (int32_t run = 0; run < std::max<int32_t>(m_options.repeat, 1); ++run) {
    const uint64_t run_seed = seed + static_cast<uint64_t>(run);
    CheckReport report = (run == 0 && name == "load.exports") ? probe : RunCheck(name, run_seed);
    seconds += report.seconds;
    if (m_options.repeat > 1 && IsFailure(report.status)) {
      report.message = "run " + std::to_string(run + 1) + " of " + std::to_string(m_options.repeat) + " (seed " +
                       std::to_string(run_seed) + "): " + report.message;
    }
    if (run == 0 || Severity(report.status) > Severity(worst.status)) worst = report;
  }
  worst.seconds = seconds;
  return worst;
}

void Validator::PrintCheck(const CheckReport& report) const {
  printf("%s%s%s  %s\n", Pad(StatusName(report.status), 9).c_str(), Pad(report.name, 29).c_str(),
         Milliseconds(report.seconds).c_str(), report.message.c_str());
  if (m_options.trace && !report.trace.empty()) {
    size_t omitted = 0;
    const std::string shown = LastLines(report.trace, kTraceLinesShown, &omitted);
    if (omitted) printf("    … %zu earlier trace lines left out\n", omitted);
    size_t start = 0;
    while (start < shown.size()) {
      size_t end = shown.find('\n', start);
      if (end == std::string::npos) end = shown.size();
      printf("    %s\n", shown.substr(start, end - start).c_str());
      start = end + 1;
    }
  }
  fflush(stdout);
}

// The opcode coverage over every check.
std::vector<CoverageRow> Validator::Coverage() const {
  std::map<std::pair<int, int32_t>, int64_t> calls;
  for (const auto& call : m_calls) calls[call.first] += call.second;
  std::vector<CoverageRow> rows;
  for (Family family : {Family::kAudioOp, Family::kGuiOp, Family::kAudioCallback, Family::kGuiCallback}) {
    const bool sent = family == Family::kAudioOp || family == Family::kGuiOp;
    for (int32_t opcode : InterfaceOpcodes(family)) {
      const auto it = calls.find({static_cast<int>(family), opcode});
      const int64_t count = it == calls.end() ? 0 : it->second;
      rows.push_back({family, OpcodeLabel(family, opcode) + " (" + std::to_string(opcode) + ")", count,
                      count ? "" : sent ? "never sent" : "never made"});
    }
    if (family == Family::kAudioOp) {
      rows.push_back({family, "process_function", m_process_calls, m_process_calls ? "" : "never called"});
      rows.push_back({family, "event_function", m_event_calls, m_event_calls ? "" : "never called"});
    }
    int64_t outside = 0;
    size_t outside_codes = 0;
    for (const auto& call : calls) {
      if (call.first.first != static_cast<int>(family) || IsInterfaceOpcode(family, call.first.second)) continue;
      if (sent) {
        outside += call.second;
        ++outside_codes;
      } else {
        rows.push_back({family, OpcodeLabel(family, call.first.second), call.second,
                        "UNKNOWN to the host: not an opcode of the interface"});
      }
    }
    if (sent && outside) {
      rows.push_back({family, "outside the interface (" + std::to_string(outside_codes) + " opcodes)", outside,
                      "sent on purpose by the opcodes checks"});
    }
  }
  return rows;
}

int Validator::PrintJson(const std::vector<CheckReport>& reports, uint64_t seed, const Tally& tally) const {
  nlohmann::json checks = nlohmann::json::array();
  for (const CheckReport& report : reports) {
    nlohmann::json check = {{"name", report.name},
                            {"status", StatusName(report.status)},
                            {"milliseconds", static_cast<int64_t>(report.seconds * 1000.0 + 0.5)},
                            {"message", report.message}};
    if (!report.detail.empty()) check["stderr"] = report.detail;
    checks.push_back(check);
  }
  nlohmann::json coverage = nlohmann::json::array();
  for (const CoverageRow& row : Coverage()) {
    coverage.push_back({{"direction", Arrow(row.family)}, {"half", HalfOf(row.family)}, {"call", row.label},
                        {"count", row.count}, {"note", row.note}});
  }
  const nlohmann::json document = {{"module", m_options.module_path}, {"module_index", m_options.module_index},
                                   {"seed", seed},                    {"repeat", m_options.repeat},
                                   {"timeout_ms", m_options.timeout_ms}, {"checks", checks},
                                   {"coverage", coverage},            {"passed", tally.passed},
                                   {"failed", tally.failed},          {"skipped", tally.skipped},
                                   {"verdict", tally.Verdict()}};
  printf("%s\n", document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  fprintf(stderr, "%s\n", tally.Verdict().c_str());
  return tally.failed ? kExitFailed : kExitOk;
}

int Validator::PrintSummary(const std::vector<CheckReport>& reports, const Tally& tally) const {
  printf("\nopcode coverage, calls summed over every check\n");
  for (const CoverageRow& row : Coverage()) {
    printf("  %s%s%8lld%s%s\n", Pad(Arrow(row.family), 12).c_str(), Pad(row.label, 40).c_str(),
           static_cast<long long>(row.count), row.note.empty() ? "" : "  ", row.note.c_str());
  }
  if (tally.failed) {
    printf("\nfailed:\n");
    for (const CheckReport& report : reports) {
      if (IsFailure(report.status)) {
        printf("  %s%s%s\n", Pad(StatusName(report.status), 9).c_str(), Pad(report.name, 29).c_str(), report.message.c_str());
      }
    }
  }
  printf("\n%s\n", tally.Verdict().c_str());
  fflush(stdout);
  return tally.failed ? kExitFailed : kExitOk;
}

std::string Tally::Verdict() const {
  return std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " + std::to_string(skipped) + " skipped";
}

int Validator::Run() {
  std::string error;
  const std::vector<std::string> names = Selected(&error);
  if (!error.empty()) {
    fprintf(stderr, "semhost validate: %s\n", error.c_str());
    return kExitUsage;
  }
  if (m_options.list) return List(names) ? kExitOk : kExitUsage;
  if (names.empty()) {
    fprintf(stderr, "semhost validate: no check matches --only '%s' --skip '%s'; see --list\n", m_options.only.c_str(),
            m_options.skip.c_str());
    return kExitUsage;
  }
  const uint64_t seed = Seed();
  CheckReport probe;
  int exit_code = kExitOk;
  if (!Probe(seed, &probe, &exit_code)) return exit_code;
  if (!m_options.json) {
    printf("semhost validate %s, module %d\n", m_options.module_path.c_str(), static_cast<int>(m_options.module_index));
    printf("seed %llu (replay with --seed %llu), %zu check(s)%s, each in its own process with a %d ms limit\n\n",
           static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed), names.size(),
           m_options.repeat > 1 ? (", " + std::to_string(m_options.repeat) + " runs each").c_str() : "",
           static_cast<int>(m_options.timeout_ms));
    fflush(stdout);
  }
  std::vector<CheckReport> reports;
  Tally tally;
  for (const std::string& name : names) {
    reports.push_back(RunRepeated(name, seed, probe));
    if (!m_options.json) PrintCheck(reports.back());
    const Status status = reports.back().status;
    tally.passed += status == Status::kPass ? 1 : 0;
    tally.skipped += status == Status::kSkipped ? 1 : 0;
    tally.failed += IsFailure(status) ? 1 : 0;
  }
  return m_options.json ? PrintJson(reports, seed, tally) : PrintSummary(reports, tally);
}

int RunCheckInChild(const std::string& name, const std::string& module_path, const std::string& watch_token,
                    int32_t module_index, uint64_t seed, int32_t instances, int32_t steps, bool trace) {
  CrashReporter::Install();
  const Check* check = FindCheck(name);
  if (!check) {
    fprintf(stderr, "semhost: no check named '%s'\n", name.c_str());
    return kExitUsage;
  }
  nlohmann::json result;
  {
    CrashReporter::SetPhase("loading the library");
    sehost::ModuleLibrary library(module_path);
    if (!library.ok()) {
      fprintf(stderr, "%s%s\n", kLoadFailedPrefix, library.error().c_str());
      return kExitLoadFailed;
    }
    Tracer tracer = Tracer::ToFile(stdout);
    CheckOptions options;
    options.module_index = module_index;
    options.seed = seed;
    options.instances = instances;
    options.steps = steps;
    CheckContext context(library, options, trace ? &tracer : nullptr);
    try {
      CrashReporter::SetPhase(check->name);
      check->run(context);
    } catch (const std::exception& e) {
      context.Fail(std::string("the check stopped on an exception: ") + e.what());
    }
    result = context.Result();
    CrashReporter::SetPhase("unloading the library");
  }
  ChildWatch watch(watch_token);
  if (!watch.ok()) {
    fprintf(stderr, "semhost: the page for the check's result is missing\n");
    return kExitFailed;
  }
  watch.Report(kExitOk, result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  return kExitOk;
}

}  // namespace semhost
