#pragma once
// The supervised run of a verb that loads a module (info, eval, plot,
// render): semhost runs again as a child with the same command line, and the
// module's code runs only there. This side plans the files (OutputFiles),
// hands the child temporaries for the outputs, times every call into the
// module (--timeout-ms), and commits the outputs only when the child says it
// succeeded and then ends cleanly. Any other end (a crash, an abort, a call
// that did not return in time, an exit of the module's own) is one line
// naming how it ended and where (the phase and the call that had not
// returned) and exit code 1, with every old target as it was.
//
// The child's side: SupervisedChild attaches to the page its parent made,
// writes its outputs where it is told (OutputPath), and reports how it ends.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ChildRunner.h"
#include "ChildWatch.h"

namespace semhost {

// What one supervised run reads and writes, with the option each came from.
struct RunFiles {
  std::vector<std::pair<std::string, std::string>> inputs;   // (path, "--in")
  std::vector<std::pair<std::string, std::string>> outputs;  // (path, "--out"); empty paths are ignored
};

class Supervisor {
 public:
  Supervisor(ChildRunner self, std::string verb) : m_self(std::move(self)), m_verb(std::move(verb)) {}

  // Runs `argv` (the whole command line, argv[0] included) again in a child
  // with the outputs of `files` redirected; answers the exit code.
  int Run(const RunFiles& files, int call_timeout_ms, int argc, char** argv) const;

  // What a child runs given its page's token and redirects (kChildOption and
  // kRedirectOption's values): the verb, as SupervisedChild runs it.
  using ChildBody = std::function<int(const std::string& token, const std::vector<std::string>& redirects)>;
  // Where the system can fork, Run forks a child that runs `body` on the
  // command line this process has parsed already, instead of starting the
  // program again: the same run for a fraction of the start-up.
  void RunForkedWhereAble(ChildBody body) { m_body = std::move(body); }

  // The child's hidden options, put before the verb: the page's token, then
  // each output and its temporary.
  static constexpr const char* kChildOption = "--supervised-child";
  static constexpr const char* kRedirectOption = "--redirect";

 private:
  ChildResult Start(const ChildWatch& watch, const std::vector<std::string>& redirects, int call_timeout_ms, int argc,
                    char** argv) const;
  int Explain(const ChildResult& child, const ChildWatch& watch, int call_timeout_ms) const;

  ChildRunner m_self;
  std::string m_verb;
  ChildBody m_body;
  mutable bool m_outputs = false;  // the run has files to write
};

class SupervisedChild {
 public:
  // `token` from kChildOption; `redirects` from kRedirectOption, in pairs.
  SupervisedChild(const std::string& token, const std::vector<std::string>& redirects);
  bool ok() const { return m_watch.ok(); }
  // Ends the run by the child's own account: checks that stdout took
  // everything (a write error there is exit code 2), reports, and answers the
  // exit code to end with.
  int Finish(int exit_code);

 private:
  ChildWatch m_watch;
};

// Flushes stdout; false with a message on stderr when it lost anything.
bool StdoutComplete(const char* verb);

}  // namespace semhost
