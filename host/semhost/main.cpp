// semhost: a command-line host, tracer and validator for module libraries of
// this format. See README.md ("semhost") for the verbs, the trace format and
// the exit codes.

#include "ChildRunner.h"
#include "CommandLine.h"

int main(int argc, char** argv) {
  // Resolved before anything else: the validator re-runs this very program.
  const std::string self = semhost::ChildRunner::SelfPath(argc > 0 ? argv[0] : nullptr);
  return semhost::CommandLine(self).Run(argc, argv);
}
