#include "CheckStatus.h"

namespace semhost {

const char* StatusName(Status status) {
  switch (status) {
    case Status::kPass: return "PASS";
    case Status::kWarn: return "WARN";
    case Status::kFail: return "FAIL";
    case Status::kCrashed: return "CRASHED";
    case Status::kTimeout: return "TIMEOUT";
    case Status::kSkipped: return "SKIPPED";
  }
  return "?";
}

bool IsFailure(Status status) { return status == Status::kFail || status == Status::kCrashed || status == Status::kTimeout; }

void Tally::Add(Status status) {
  passed += status == Status::kPass ? 1 : 0;
  warned += status == Status::kWarn ? 1 : 0;
  skipped += status == Status::kSkipped ? 1 : 0;
  failed += IsFailure(status) ? 1 : 0;
}

std::string Tally::Verdict() const {
  return std::to_string(passed) + " passed, " + std::to_string(warned) + " warned, " + std::to_string(failed) +
         " failed, " + std::to_string(skipped) + " skipped";
}

}  // namespace semhost
