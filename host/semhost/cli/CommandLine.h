#pragma once
// semhost's command line: the verbs info, eval, validate, plot, diff and render, the
// options every verb takes (--trace, --trace-file, --module), and the hidden
// verb a validator child runs. Parsing errors end with exit code 2.

#include <string>

namespace semhost {

class CommandLine {
 public:
  // `self` is the program's own path, resolved at start (validate re-runs it).
  explicit CommandLine(std::string self) : m_self(std::move(self)) {}
  // Parses and runs; answers the exit code.
  int Run(int argc, char** argv);

 private:
  std::string m_self;
};

}  // namespace semhost
