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

CheckReport Validator::RunCheck(const std::string& name, uint64_t seed) const {
  CheckReport report;
  report.name = name;
  if (!m_watch.ok()) {
    report.status = Status::kCrashed;
    report.message = "cannot make the page the check's child reports on";
    return report;
  }
  const_cast<ChildWatch&>(m_watch).Reset();
  const ChildResult child = m_self.Run(ChildArgs(name, seed), m_options.timeout_ms);
  report.seconds = child.seconds;
  if (m_options.trace) report.trace = child.out;
  const std::string said = Summary(child.err);

  nlohmann::json result;
  const std::string text = m_watch.Result();
  bool have_result = false;
  if (!text.empty()) {
    result = nlohmann::json::parse(text, nullptr, false);
    have_result = !result.is_discarded() && result.is_object() && result.contains("status");
  }
  if (have_result && child.end != ChildResult::End::kTimedOut) {
    const std::string status = result.value("status", "");
    report.status = status == "pass" ? Status::kPass : status == "skip" ? Status::kSkipped : Status::kFail;
    report.message = result.value("message", "");
    // The result is written after the library is unloaded; only the process's
    // own exit can come after it (a leak report of a sanitizer, say).
    if (child.end != ChildResult::End::kExited || child.exit_code != 0) {
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
  report.detail = child.err;
  switch (child.end) {
    case ChildResult::End::kNotStarted:
      report.status = Status::kCrashed;
      report.message = "the check's process did not start: " + child.start_error;
      break;
    case ChildResult::End::kTimedOut:
      report.status = Status::kTimeout;
      report.message = "no result within " + std::to_string(m_options.timeout_ms) + " ms" + (said.empty() ? "" : ": " + said);
      break;
    case ChildResult::End::kSignaled:
      report.status = Status::kCrashed;
      report.message = ChildRunner::SignalName(child.signal) + (said.empty() ? "" : ": " + said);
      break;
    case ChildResult::End::kExited: {
      report.status = Status::kCrashed;
      const unsigned code = static_cast<unsigned>(child.exit_code);
      std::string how = "exited with code " + std::to_string(child.exit_code) + " before reporting";
#if defined(_WIN32)
      if (code >= 0xC0000000u || code == 0x80000003u) how = ChildRunner::ExceptionName(code);
      if (code == 3) how = "aborted (exit code 3)";
#endif
      (void)code;
      report.message = how + (said.empty() ? "" : ": " + said);
      break;
    }
  }
  return report;
}

int Validator::Run() {
  std::string error;
  const std::vector<std::string> names = Selected(&error);
  if (!error.empty()) {
    fprintf(stderr, "semhost validate: %s\n", error.c_str());
    return kExitUsage;
  }
  if (m_options.list) {
    if (m_options.json) {
      nlohmann::json list = nlohmann::json::array();
      for (const std::string& name : names) list.push_back({{"name", name}, {"description", FindCheck(name)->description}});
      printf("%s\n", list.dump(2).c_str());
    } else {
      for (const std::string& name : names) printf("%s%s\n", Pad(name, 29).c_str(), FindCheck(name)->description);
    }
    return kExitOk;
  }
  if (names.empty()) {
    fprintf(stderr, "semhost validate: no check matches --only '%s' --skip '%s'; see --list\n", m_options.only.c_str(),
            m_options.skip.c_str());
    return kExitUsage;
  }
  uint64_t seed = m_options.seed;
  if (!m_options.seed_given) {
    std::random_device device;
    seed = (static_cast<uint64_t>(device()) ^ static_cast<uint64_t>(time(nullptr))) % 1000000000ull;
  }

  // The library is loaded in a child first: a library that cannot be loaded
  // ends the run with its own message, and semhost itself never runs module code.
  CheckReport probe = RunCheck("load.exports", seed);
  if (probe.status == Status::kCrashed && probe.message.compare(0, 33, "the check's process did not start") == 0) {
    fprintf(stderr, "semhost validate: cannot run the checks: %s\n", probe.message.c_str());
    return kExitFailed;
  }
  const size_t load_failure = probe.detail.find(kLoadFailedPrefix);
  if (probe.status == Status::kCrashed && load_failure != std::string::npos) {
    fprintf(stderr, "semhost validate: %s\n", Summary(probe.detail.substr(load_failure + strlen(kLoadFailedPrefix))).c_str());
    return kExitLoadFailed;
  }

  FILE* out = stdout;
  if (!m_options.json) {
    fprintf(out, "semhost validate %s, module %d\n", m_options.module_path.c_str(), static_cast<int>(m_options.module_index));
    fprintf(out, "seed %llu (replay with --seed %llu), %zu check(s)%s, each in its own process with a %d ms limit\n\n",
            static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed), names.size(),
            m_options.repeat > 1 ? (", " + std::to_string(m_options.repeat) + " runs each").c_str() : "",
            static_cast<int>(m_options.timeout_ms));
    fflush(out);
  }
  std::vector<CheckReport> reports;
  for (const std::string& name : names) {
    CheckReport worst;
    double seconds = 0.0;
    std::string trace;
    for (int32_t run = 0; run < std::max<int32_t>(m_options.repeat, 1); ++run) {
      const uint64_t run_seed = seed + static_cast<uint64_t>(run);
      CheckReport report = (run == 0 && name == "load.exports") ? probe : RunCheck(name, run_seed);
      seconds += report.seconds;
      if (m_options.repeat > 1 && IsFailure(report.status)) {
        report.message = "run " + std::to_string(run + 1) + " of " + std::to_string(m_options.repeat) + " (seed " +
                         std::to_string(run_seed) + "): " + report.message;
      }
      if (run == 0 || Severity(report.status) > Severity(worst.status)) {
        trace = report.trace;
        worst = report;
      }
    }
    worst.seconds = seconds;
    if (!m_options.json) {
      fprintf(out, "%s%s%s  %s\n", Pad(StatusName(worst.status), 9).c_str(), Pad(name, 29).c_str(),
              Milliseconds(worst.seconds).c_str(), worst.message.c_str());
      if (m_options.trace && !trace.empty()) {
        size_t omitted = 0;
        const std::string shown = LastLines(trace, kTraceLinesShown, &omitted);
        if (omitted) fprintf(out, "    … %zu earlier trace lines left out\n", omitted);
        size_t start = 0;
        while (start < shown.size()) {
          size_t end = shown.find('\n', start);
          if (end == std::string::npos) end = shown.size();
          fprintf(out, "    %s\n", shown.substr(start, end - start).c_str());
          start = end + 1;
        }
      }
      fflush(out);
    }
    reports.push_back(worst);
  }

  // Coverage over every check.
  std::map<std::pair<int, int32_t>, int64_t> calls;
  for (const auto& call : m_calls) calls[call.first] += call.second;
  struct Row {
    Family family;
    std::string label;
    int64_t count;
    std::string note;
  };
  std::vector<Row> rows;
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
    std::vector<int32_t> outside_codes;
    for (const auto& call : calls) {
      if (call.first.first != static_cast<int>(family) || IsInterfaceOpcode(family, call.first.second)) continue;
      if (sent) {
        outside += call.second;
        outside_codes.push_back(call.first.second);
      } else {
        rows.push_back({family, OpcodeLabel(family, call.first.second), call.second,
                        "UNKNOWN to the host: not an opcode of the interface"});
      }
    }
    if (sent && outside) {
      rows.push_back({family, "outside the interface (" + std::to_string(outside_codes.size()) + " opcodes)", outside,
                      "sent on purpose by the opcodes checks"});
    }
  }

  size_t passed = 0, failed = 0, skipped = 0;
  for (const CheckReport& report : reports) {
    if (report.status == Status::kPass) ++passed;
    if (report.status == Status::kSkipped) ++skipped;
    if (IsFailure(report.status)) ++failed;
  }
  char verdict[96];
  snprintf(verdict, sizeof verdict, "%zu passed, %zu failed, %zu skipped", passed, failed, skipped);

  if (m_options.json) {
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
    for (const Row& row : rows) {
      coverage.push_back({{"direction", Arrow(row.family)}, {"half", HalfOf(row.family)}, {"call", row.label},
                          {"count", row.count}, {"note", row.note}});
    }
    const nlohmann::json document = {{"module", m_options.module_path},
                                     {"module_index", m_options.module_index},
                                     {"seed", seed},
                                     {"repeat", m_options.repeat},
                                     {"timeout_ms", m_options.timeout_ms},
                                     {"checks", checks},
                                     {"coverage", coverage},
                                     {"passed", passed},
                                     {"failed", failed},
                                     {"skipped", skipped},
                                     {"verdict", verdict}};
    printf("%s\n", document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    fprintf(stderr, "%s\n", verdict);
    return failed ? kExitFailed : kExitOk;
  }

  fprintf(out, "\nopcode coverage, calls summed over every check\n");
  for (const Row& row : rows) {
    fprintf(out, "  %s%s%8lld%s%s\n", Pad(Arrow(row.family), 12).c_str(), Pad(row.label, 40).c_str(),
            static_cast<long long>(row.count), row.note.empty() ? "" : "  ", row.note.c_str());
  }
  if (failed) {
    fprintf(out, "\nfailed:\n");
    for (const CheckReport& report : reports) {
      if (IsFailure(report.status)) {
        fprintf(out, "  %s%s%s\n", Pad(StatusName(report.status), 9).c_str(), Pad(report.name, 29).c_str(),
                report.message.c_str());
      }
    }
  }
  fprintf(out, "\n%s\n", verdict);
  fflush(out);
  return failed ? kExitFailed : kExitOk;
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
