#pragma once
// How a check ended, and the counts of the verdict line that sums them up.

#include <stddef.h>

#include <string>

namespace semhost {

enum class Status { kPass, kWarn, kFail, kCrashed, kTimeout, kSkipped };
// "PASS", "WARN", "FAIL", "CRASHED", "TIMEOUT", "SKIPPED".
const char* StatusName(Status status);
// FAIL, CRASHED and TIMEOUT: the ends that fail a run (a warning fails one only with --strict).
bool IsFailure(Status status);

// The verdict's counts.
struct Tally {
  size_t passed = 0, warned = 0, failed = 0, skipped = 0;
  void Add(Status status);
  std::string Verdict() const;  // "31 passed, 1 warned, 0 failed, 2 skipped"
};

}  // namespace semhost
