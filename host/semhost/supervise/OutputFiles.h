#pragma once
// The files one run writes, owned by the parent alone: every output goes to a
// temporary beside its target, and the targets change only when Commit
// renames them all, after the run succeeded. Until then, and after any
// failure or signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT end the running child,
// remove the temporaries, then end us as they would have), each old target
// stays as it was and no temporary is left.
//
// Before anything is written the plan is checked: an output is never one of
// the run's inputs nor another of its outputs (the same file by device and
// inode, links resolved), never a folder, and its folder must be writable.
// A target keeps its mode; a target that is a symbolic link has the file it
// points to replaced, and stays a link.

#include <stdint.h>

#include <string>
#include <vector>

namespace semhost {

class OutputFiles {
 public:
  OutputFiles() = default;
  ~OutputFiles();  // removes the temporaries unless committed
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // A file the run reads, with what it is ("--in", "the module").
  void AddInput(const std::string& path, const std::string& label);
  // A file the run writes ("--out"); "" is ignored.
  void AddOutput(const std::string& path, const std::string& label);

  // Checks the plan; false with `error` saying what is wrong in the user's terms.
  bool CheckPlan(std::string* error);
  // Checks the plan and makes the temporaries.
  bool Prepare(std::string* error);
  // The temporary standing for the output `path` (as given), or `path`.
  const std::string& TemporaryFor(const std::string& path) const;
  // Every (given path, temporary) pair, in the order added.
  std::vector<std::pair<std::string, std::string>> Redirects() const;

  // Renames every temporary onto its target; false with `error` when one
  // could not be (the ones before it are already in place).
  bool Commit(std::string* error);
  // Removes the temporaries.
  void Discard();

  // A file that a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT) removes before it
  // ends the process as it would have: what a supervised child does with the
  // temporaries it writes, so that one whose parent was killed outright
  // (it gets SIGTERM then) leaves none behind.
  static void RemoveOnSignal(const std::string& path);

 private:
  struct Input {
    std::string path, label;
  };
  struct Output {
    std::string given, label;
    std::string target;     // the file really written: links resolved
    std::string temporary;  // beside `target`
    bool committed = false;
  };
  bool Check(Output* output, std::string* error) const;

  std::vector<Input> m_inputs;
  std::vector<Output> m_outputs;
};

}  // namespace semhost
