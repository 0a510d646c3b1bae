#include "Validator.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <random>

#include "Checks.h"
#include "JUnitReport.h"
#include "OutputFiles.h"
#include "Parallel.h"
#include "CrashReporter.h"
#include "ExitCode.h"
#include "ModuleLibrary.h"
#include "NameFilter.h"
#include "Names.h"
#include "Tracer.h"

namespace semhost {

namespace {

constexpr size_t kTraceLinesShown = 200;
// How a check's child says that the library could not be loaded.
constexpr const char* kLoadFailedPrefix = "semhost: load failed: ";

// Checks that ask the module for no pin properties: they run whatever the
// pins declare. Every other check needs the pin-flags rule to hold, since the
// framework ends the process when a host asks for a pin that breaks it.
bool NeedsPins(const std::string& name) {
  for (const char* prefix : {"load.", "records.", "opcodes.", "hygiene.stack-pointer"}) {
    if (name.compare(0, strlen(prefix), prefix) == 0) return false;
  }
  return name != "pins.flags-rule";
}

constexpr const char* kFlagsRule = "pins.flags-rule";
constexpr const char* kAudioIndices = "declarations.audio-indices";

// How bad a status is, for the worst of several runs.
int Severity(Status status) {
  switch (status) {
    case Status::kSkipped: return 0;
    case Status::kPass: return 1;
    case Status::kWarn: return 2;
    case Status::kFail: return 3;
    case Status::kTimeout: return 4;
    case Status::kCrashed: return 5;
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

// `text` as one word of a POSIX shell command.
std::string ShellQuoted(const std::string& text) {
  if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./:=+,") == std::string::npos) {
    return text;
  }
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

const char* HalfOf(Family family) {
  return family == Family::kAudioOp || family == Family::kAudioCallback ? "audio" : "gui";
}

}  // namespace

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

std::vector<std::string> Validator::ChildArgs(const std::string& name, uint64_t seed, const ChildWatch& watch) const {
  std::vector<std::string> args = {"--supervised-child",
                                   watch.token(),
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
  report.status = status == "pass"   ? Status::kPass
                  : status == "warn" ? Status::kWarn
                  : status == "skip" ? Status::kSkipped
                                     : Status::kFail;
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
    report.calls.push_back({{call[0].get<int>(), call[1].get<int32_t>()}, call[2].get<int64_t>()});
  }
  report.process_calls = result.value("process_calls", 0LL);
  report.event_calls = result.value("event_calls", 0LL);
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

CheckReport Validator::RunCheck(const std::string& name, uint64_t seed, ChildWatch& watch) const {
  CheckReport report;
  report.name = name;
  report.seed = seed;
  if (!watch.ok()) {
    report.status = Status::kCrashed;
    report.message = "cannot make the page the check's child reports on";
    return report;
  }
  watch.Reset();
  const ChildResult child = m_self.Run(ChildArgs(name, seed, watch), m_options.timeout_ms);
  report.seconds = child.seconds;
  if (m_options.trace) report.trace = child.out;
  const std::string text = watch.Result();
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
  *probe = RunCheck("load.exports", seed, m_watch);
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
CheckReport Validator::RunRepeated(const std::string& name, uint64_t seed, const CheckReport& probe,
                                   ChildWatch& watch) const {
  CheckReport worst;
  double seconds = 0.0;
  for (int32_t run = 0; run < std::max<int32_t>(m_options.repeat, 1); ++run) {
    const uint64_t run_seed = seed + static_cast<uint64_t>(run);
    CheckReport report = (run == 0 && name == "load.exports") ? probe : RunCheck(name, run_seed, watch);
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

nlohmann::json Validator::Json(const ModuleRun& run) const {
  nlohmann::json checks = nlohmann::json::array();
  Tally tally;
  for (const CheckReport& report : run.reports) {
    nlohmann::json check = {{"name", report.name},
                            {"status", StatusName(report.status)},
                            {"milliseconds", static_cast<int64_t>(report.seconds * 1000.0 + 0.5)},
                            {"message", report.message}};
    if (!report.detail.empty()) check["stderr"] = report.detail;
    if (IsFailure(report.status) || report.status == Status::kWarn) check["replay"] = ReplayCommand(m_options, run.module_path, report);
    checks.push_back(check);
    tally.Add(report.status);
  }
  nlohmann::json coverage = nlohmann::json::array();
  for (const CoverageRow& row : Coverage()) {
    coverage.push_back({{"direction", Arrow(row.family)}, {"half", HalfOf(row.family)}, {"call", row.label},
                        {"count", row.count}, {"note", row.note}});
  }
  return {{"module", run.module_path}, {"module_index", m_options.module_index},
          {"seed", run.seed},          {"repeat", m_options.repeat},
          {"timeout_ms", m_options.timeout_ms}, {"checks", checks},
          {"coverage", coverage},      {"passed", tally.passed},
          {"warned", tally.warned},    {"failed", tally.failed},
          {"skipped", tally.skipped},  {"verdict", tally.Verdict()}};
}

void Validator::PrintSummary(const std::vector<CheckReport>& reports) const {
  printf("\nopcode coverage, calls summed over every check\n");
  for (const CoverageRow& row : Coverage()) {
    printf("  %s%s%8lld%s%s\n", Pad(Arrow(row.family), 12).c_str(), Pad(row.label, 40).c_str(),
           static_cast<long long>(row.count), row.note.empty() ? "" : "  ", row.note.c_str());
  }
  for (const bool failures : {true, false}) {
    bool any = false;
    for (const CheckReport& report : reports) {
      if (failures ? !IsFailure(report.status) : report.status != Status::kWarn) continue;
      if (!any) printf("\n%s\n", failures ? "failed:" : "warnings:");
      any = true;
      printf("  %s%s%s\n", Pad(StatusName(report.status), 9).c_str(), Pad(report.name, 29).c_str(), report.message.c_str());
      printf("      replay: %s\n", ReplayCommand(m_options, m_options.module_path, report).c_str());
    }
  }
  fflush(stdout);
}

std::string ReplayCommand(const ValidateOptions& options, const std::string& module, const CheckReport& report) {
  std::string command = "semhost validate " + ShellQuoted(module);
  if (options.module_index != 0) command += " --module " + std::to_string(options.module_index);
  return command + " --only " + report.name + " --seed " + std::to_string(report.seed);
}

// Runs the prerequisites of the selected checks first: the pin-flags rule,
// which decides whether the checks that ask for pins can run at all, and the
// audio-side indices, which explain a crash of the audio half. Answers why
// the checks that need pins cannot run ("" when they can), with the
// prerequisites' reports in `done` and a crash's likely cause in `hint`.
std::string Validator::Blocked(const std::vector<std::string>& names, uint64_t seed, std::vector<CheckReport>* done,
                               std::string* hint) const {
  const bool need_pins = std::any_of(names.begin(), names.end(), NeedsPins);
  if (!need_pins) return "";
  ChildWatch watch;
  CheckReport rule = RunRepeated(kFlagsRule, seed, CheckReport(), watch);
  done->push_back(rule);
  if (rule.status != Status::kPass) {
    return "skipped: " + std::string(kFlagsRule) + " " + StatusName(rule.status) + ", and asking for that pin ends the process: " + rule.message;
  }
  CheckReport indices = RunRepeated(kAudioIndices, seed, CheckReport(), watch);
  done->push_back(indices);
  if (indices.status == Status::kWarn) *hint = "likely cause (" + std::string(kAudioIndices) + "): " + indices.message;
  return "";
}

std::vector<CheckReport> Validator::RunAll(const std::vector<std::string>& names, uint64_t seed,
                                           const CheckReport& probe) const {
  std::vector<CheckReport> early;
  std::string hint;
  const std::string blocked = Blocked(names, seed, &early, &hint);
  std::vector<CheckReport> reports(names.size());
  const int workers = m_options.jobs > 0 ? m_options.jobs : CoreCount();
  auto job = [&](size_t i) {
    const std::string& name = names[i];
    for (const CheckReport& report : early) {
      if (report.name == name) return void(reports[i] = report);
    }
    if (!blocked.empty() && NeedsPins(name)) {
      reports[i].name = name;
      reports[i].seed = seed;
      reports[i].status = Status::kSkipped;
      reports[i].message = blocked;
      return;
    }
    ChildWatch watch;
    reports[i] = RunRepeated(name, seed, probe, watch);
    if (reports[i].status == Status::kCrashed && !hint.empty()) reports[i].message += "; " + hint;
  };
  ForEachInParallel(names.size(), workers, job, [&](size_t i) {
    const CheckReport& report = reports[i];
    m_calls.insert(m_calls.end(), report.calls.begin(), report.calls.end());
    m_process_calls += report.process_calls;
    m_event_calls += report.event_calls;
    if (!m_options.json) PrintCheck(report);
  });
  return reports;
}

// One module: its checks, its report; answers the module's exit code.
int Validator::RunModule(const std::vector<std::string>& names, ModuleRun* run) {
  m_calls.clear();
  m_process_calls = m_event_calls = 0;
  run->module_path = m_options.module_path;
  run->seed = Seed();
  CheckReport probe;
  int exit_code = kExitOk;
  if (!Probe(run->seed, &probe, &exit_code)) {
    run->loaded = false;
    return exit_code;
  }
  if (!m_options.json) {
    printf("semhost validate %s, module %d\n", m_options.module_path.c_str(), static_cast<int>(m_options.module_index));
    printf("seed %llu (replay with --seed %llu), %zu check(s)%s, each in its own process with a %d ms limit\n\n",
           static_cast<unsigned long long>(run->seed), static_cast<unsigned long long>(run->seed), names.size(),
           m_options.repeat > 1 ? (", " + std::to_string(m_options.repeat) + " runs each").c_str() : "",
           static_cast<int>(m_options.timeout_ms));
    fflush(stdout);
  }
  run->reports = RunAll(names, run->seed, probe);
  if (!m_options.json) PrintSummary(run->reports);
  return kExitOk;
}

// The verdict over every module, the JSON document and the JUnit file.
int Validator::Finish(const std::vector<ModuleRun>& runs, const std::vector<nlohmann::json>& documents, int worst_exit) {
  Tally tally;
  for (const ModuleRun& run : runs) {
    for (const CheckReport& report : run.reports) tally.Add(report.status);
    if (!run.loaded) ++tally.failed;
  }
  if (m_options.json) {
    const nlohmann::json document = documents.size() == 1 ? documents[0] : nlohmann::json{{"modules", documents}, {"verdict", tally.Verdict()}};
    printf("%s\n", document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    fprintf(stderr, "%s%s\n", tally.Verdict().c_str(), m_options.strict && tally.warned ? " (--strict: warnings fail)" : "");
  } else {
    printf("\n%s%s\n", tally.Verdict().c_str(), m_options.strict && tally.warned ? " (--strict: warnings fail)" : "");
    fflush(stdout);
  }
  if (worst_exit != kExitOk) return worst_exit;
  return tally.failed || (m_options.strict && tally.warned) ? kExitFailed : kExitOk;
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
  OutputFiles files;
  for (const std::string& path : m_options.module_paths) files.AddInput(path, "a module");
  files.AddOutput(m_options.junit, "--junit");
  if (!files.Prepare(&error)) {
    fprintf(stderr, "semhost validate: %s\n", error.c_str());
    return kExitUsage;
  }
  std::vector<ModuleRun> runs;
  std::vector<nlohmann::json> documents;
  int worst_exit = kExitOk;
  for (const std::string& path : m_options.module_paths) {
    m_options.module_path = path;
    runs.emplace_back();
    const int code = RunModule(names, &runs.back());
    if (code != kExitOk && worst_exit == kExitOk) worst_exit = code;
    if (m_options.json && runs.back().loaded) documents.push_back(Json(runs.back()));
    if (!m_options.json && m_options.module_paths.size() > 1) printf("\n");
  }
  const int code = Finish(runs, documents, worst_exit);
  if (m_options.junit.empty()) return code;
  if (!WriteJUnit(files.Redirects()[0].second, runs, m_options, &error) || !files.Commit(&error)) {
    fprintf(stderr, "semhost validate: %s\n", error.c_str());
    return kExitUsage;
  }
  return code;
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
