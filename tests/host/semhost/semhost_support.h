#pragma once
// Runs the built semhost as a child process, the way a user runs it: on
// linux32 under the same emulator as the tests, which also runs every check's
// child under it (SEMHOST_EMULATOR).

#include <stdlib.h>

#include <string>
#include <vector>

#include "ChildRunner.h"

struct SemhostRun {
  int code = -1;
  std::string out;
  std::string err;
  std::vector<std::string> lines;  // stdout, line by line

  bool HasLine(const std::string& line) const {
    for (const std::string& l : lines) {
      if (l == line) return true;
    }
    return false;
  }
  // The first line that starts with `prefix`, or "".
  std::string LineStartingWith(const std::string& prefix) const {
    for (const std::string& l : lines) {
      if (l.compare(0, prefix.size(), prefix) == 0) return l;
    }
    return "";
  }
  std::string Last() const { return lines.empty() ? "" : lines.back(); }
};

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

inline SemhostRun Semhost(const std::vector<std::string>& args, int timeout_ms = 120000) {
  const std::string emulator = SEMHOST_TEST_EMULATOR;
  if (!emulator.empty()) setenv("SEMHOST_EMULATOR", emulator.c_str(), 1);
  const semhost::ChildRunner runner(SEMHOST_PATH, emulator, !emulator.empty());
  const semhost::ChildResult result = runner.Run(args, timeout_ms);
  SemhostRun run;
  run.code = result.end == semhost::ChildResult::End::kExited ? result.exit_code : -1;
  run.out = result.out;
  run.err = result.err;
  run.lines = SplitLines(result.out);
  return run;
}

inline std::string Fixture(const std::string& name) { return std::string(SE_FIXTURE_DIR) + "/broken_" + name + ".sem"; }
