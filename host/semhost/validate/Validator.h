#pragma once
// `semhost validate`: runs every selected check of a module in a child
// process of its own (semhost re-run with the hidden `__check` verb), with a
// time limit, so a check that crashes or hangs is reported as CRASHED or
// TIMEOUT with what the child said, and the others still run. Prints a report
// (or JSON): every check with its verdict, duration and message, the opcode
// coverage, the failures again, and the verdict line last.

#include <stdint.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CheckStatus.h"
#include "ChildRunner.h"
#include "ChildWatch.h"
#include "Names.h"

namespace semhost {

struct ValidateOptions {
  std::vector<std::string> module_paths;  // each validated in turn, one verdict for all
  std::string module_path;                // the one being validated
  int32_t module_index = 0;
  bool json = false;
  bool list = false;
  std::string only;  // a check runs when its name matches `only` (if set) and not `skip` (if set)
  std::string skip;
  bool seed_given = false;
  uint64_t seed = 0;
  int32_t repeat = 1;
  int32_t timeout_ms = 10000;
  int32_t instances = 10000;
  int32_t steps = 5000;
  bool trace = false;  // each child's trace, printed under its check
  bool strict = false;  // a warning fails the run
  std::string junit;    // a JUnit XML report goes here (through OutputFiles)
  int32_t jobs = 0;     // checks run at once; 0: one per processor
};

struct CheckReport {
  std::string name;
  Status status = Status::kSkipped;
  double seconds = 0.0;
  std::string message;
  std::string detail;  // the child's stderr when it crashed or timed out
  std::string trace;   // the child's stdout, with --trace
  uint64_t seed = 0;   // of the run the report is about
  std::string hint;    // what a crash most likely means (from the declarations checks)
  // The child's opcode coverage: (family, opcode) → calls; process and event calls.
  std::vector<std::pair<std::pair<int, int32_t>, int64_t>> calls;
  int64_t process_calls = 0, event_calls = 0;
};

// One module's run: every check's report, for the report and the JUnit file.
struct ModuleRun {
  std::string module_path;
  uint64_t seed = 0;
  std::vector<CheckReport> reports;
  bool loaded = true;
  std::string load_error;
};

// A line of the opcode coverage.
struct CoverageRow {
  Family family;
  std::string label;
  int64_t count;
  std::string note;
};

// The command that replays one check of a run alone.
std::string ReplayCommand(const ValidateOptions& options, const std::string& module, const CheckReport& report);

class Validator {
 public:
  // `self` runs semhost itself.
  Validator(ChildRunner self, ValidateOptions options);

  // Runs the checks on every module and prints the report; answers the exit code.
  int Run();

  // One check in a child, reporting on `watch`: the verdict, from the
  // child's result or how it ended.
  CheckReport RunCheck(const std::string& name, uint64_t seed, ChildWatch& watch) const;

 private:
  std::vector<std::string> Selected(std::string* error) const;
  int RunModule(const std::vector<std::string>& names, ModuleRun* run);
  std::vector<CheckReport> RunAll(const std::vector<std::string>& names, uint64_t seed, const CheckReport& probe) const;
  std::string Blocked(const std::vector<std::string>& names, uint64_t seed, std::vector<CheckReport>* done,
                      std::string* hint) const;
  std::vector<std::string> ChildArgs(const std::string& name, uint64_t seed, const ChildWatch& watch) const;
  CheckReport FromResult(CheckReport report, const nlohmann::json& result, const ChildResult& child) const;
  CheckReport FromEnd(CheckReport report, const ChildResult& child) const;
  bool List(const std::vector<std::string>& names) const;
  uint64_t Seed() const;
  bool Probe(uint64_t seed, CheckReport* probe, int* exit_code) const;
  CheckReport RunRepeated(const std::string& name, uint64_t seed, const CheckReport& probe, ChildWatch& watch) const;
  void PrintCheck(const CheckReport& report) const;
  std::vector<CoverageRow> Coverage() const;
  nlohmann::json Json(const ModuleRun& run) const;
  void PrintSummary(const std::vector<CheckReport>& reports) const;
  int Finish(const std::vector<ModuleRun>& runs, const std::vector<nlohmann::json>& documents, int worst_exit);

  ChildRunner m_self;
  mutable ChildWatch m_watch;  // each check's child reports its result here
  ValidateOptions m_options;
  // Coverage gathered from the children of one module: (family, opcode) → calls.
  mutable std::vector<std::pair<std::pair<int, int32_t>, int64_t>> m_calls;
  mutable int64_t m_process_calls = 0;
  mutable int64_t m_event_calls = 0;
};

// The hidden verb's side: runs check `name` on the module and reports its
// result (JSON) on the page its parent gave (`watch_token`). Answers the
// child's exit code.
int RunCheckInChild(const std::string& name, const std::string& module_path, const std::string& watch_token,
                    int32_t module_index, uint64_t seed, int32_t instances, int32_t steps, bool trace);

}  // namespace semhost
