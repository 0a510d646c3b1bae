#pragma once
// Runs a program as a child process and tells how it ended: its exit code,
// signal or time-out. Run collects what the child wrote (the validator re-runs
// semhost this way, one check per child); RunWatched lets it write to our own
// stdout and stderr and times each of its calls into a module on the page it
// shares with us (the verbs' supervised runs). A child never outlives us: on
// Linux it dies with its parent (PR_SET_PDEATHSIG), on Windows with the job
// object that holds it. fork/exec (or fork alone) on POSIX, CreateProcess on Windows.

#include <functional>
#include <string>
#include <vector>

namespace semhost {

class ChildWatch;

struct ChildResult {
  enum class End { kExited, kSignaled, kTimedOut, kNotStarted };
  End end = End::kNotStarted;
  int exit_code = 0;        // kExited: the code; on Windows also a crash's exception code
  int signal = 0;           // kSignaled: the signal number
  std::string out;          // everything the child wrote to stdout
  std::string err;          // everything the child wrote to stderr
  double seconds = 0.0;     // wall time from start to end
  std::string start_error;  // kNotStarted: why
};

class ChildRunner {
 public:
  // `program` is run directly; when the system cannot run it (exec format
  // error) and `emulator` is not empty, it is run as `emulator program …`,
  // and with `always_emulate` it is always run that way.
  explicit ChildRunner(std::string program, std::string emulator = "", bool always_emulate = false);

  // Runs `program args…` with stdin empty. After `timeout_ms` the child is
  // first asked to stop (on POSIX with SIGUSR1, so it can say where it was),
  // then, 500 ms later, killed.
  ChildResult Run(const std::vector<std::string>& args, int timeout_ms) const;

  // Runs `program args…` with our stdout and stderr and stdin empty; the child
  // finds `watch`'s page from `watch.token()` (the caller puts it in `args`).
  // A call into the module that stays open for more than `call_timeout_ms`
  // (0: no limit) ends the child: kTimedOut.
  ChildResult RunWatched(const std::vector<std::string>& args, const ChildWatch& watch, int call_timeout_ms) const;

#if !defined(_WIN32)
  // RunWatched for a child forked from this process that runs `body` and
  // ends with its answer (the program is not started again). The caller
  // must have no other thread running and must have flushed its stdio.
  ChildResult RunWatchedFork(const std::function<int()>& body, const ChildWatch& watch, int call_timeout_ms) const;
#endif

  // Ends the child now running, if any (async-signal-safe): what our own
  // signal handlers do before we end.
  static void KillRunningChild();

  const std::string& program() const { return m_program; }

  // The running program's own path, resolved from argv[0] when the process
  // starts (argv[0] names the program even under a user-mode emulator, where
  // the kernel's view of the executable is the emulator), else from the system.
  static std::string SelfPath(const char* argv0);
  // "SIGSEGV (segmentation fault)"; on Windows, the name of an exception code.
  static std::string SignalName(int signal);
  static std::string ExceptionName(unsigned code);

 private:
#if !defined(_WIN32)
  ChildResult RunWatchedLaunch(const std::vector<std::string>& args, const std::function<int()>* body,
                               const ChildWatch& watch, int call_timeout_ms) const;
#endif

  std::string m_program;
  std::string m_emulator;
  bool m_always_emulate;
};

}  // namespace semhost
