#pragma once
// semhost's exit codes: documented in README.md; scripts rely on them.

namespace semhost {

enum ExitCode : int {
  kExitOk = 0,           // done; for validate: every selected check passed or was skipped
  kExitFailed = 1,       // validate: a check failed, crashed or timed out; other verbs: the module misbehaved
  kExitUsage = 2,        // bad command line: unknown option, pin, choice, number or unwritable file
  kExitLoadFailed = 3,   // the library could not be loaded or lacks an export
};

}  // namespace semhost
