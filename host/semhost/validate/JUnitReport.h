#pragma once
// validate's report as JUnit XML, for continuous integration: one test suite
// per module, one test case per check with its duration; a failure, crash or
// time-out carries its message and the command that replays it, a skipped
// check its reason, a warning its message (as a failure with --strict). The
// seed and the module are properties of each suite.

#include <string>
#include <vector>

#include "Validator.h"

namespace semhost {

// The document for `runs`.
std::string JUnitXml(const std::vector<ModuleRun>& runs, const ValidateOptions& options);

// Writes the document to `path` (a temporary the caller commits); false
// with `error` when it could not be written.
bool WriteJUnit(const std::string& path, const std::vector<ModuleRun>& runs, const ValidateOptions& options,
                std::string* error);

}  // namespace semhost
