// semhost: a command-line host, tracer and validator for module libraries of
// this format. See README.md ("semhost") for the verbs, the trace format and
// the exit codes.

#include <stdio.h>

#include <new>

#include "ChildRunner.h"
#include "CommandLine.h"
#include "ExitCode.h"

int main(int argc, char** argv) {
  // Resolved before anything else: the validator re-runs this very program.
  const std::string self = semhost::ChildRunner::SelfPath(argc > 0 ? argv[0] : nullptr);
  try {
    return semhost::CommandLine(self).Run(argc, argv);
  } catch (const std::bad_alloc&) {
    // An input too large for the memory semhost may use: a message, not a crash.
    fprintf(stderr, "semhost: not enough memory for this run\n");
    return semhost::kExitUsage;
  }
}
