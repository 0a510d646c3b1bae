#include "Supervisor.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "CrashReporter.h"
#include "ExitCode.h"
#include "OutputFiles.h"
#include "OutputRedirect.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace semhost {

int Supervisor::Run(const RunFiles& files, int call_timeout_ms, int argc, char** argv) const {
  OutputFiles outputs;
  for (const auto& input : files.inputs) outputs.AddInput(input.first, input.second);
  for (const auto& output : files.outputs) outputs.AddOutput(output.first, output.second);
  std::string error;
  if (!outputs.Prepare(&error)) {
    fprintf(stderr, "semhost: %s: %s\n", m_verb.c_str(), error.c_str());
    return kExitUsage;
  }
  ChildWatch watch;
  if (!watch.ok()) {
    fprintf(stderr, "semhost: %s: cannot make the page a supervised run shares: %s\n", m_verb.c_str(), strerror(errno));
    return kExitFailed;
  }
  m_outputs = !outputs.Redirects().empty();
  std::vector<std::string> redirects;
  for (const auto& redirect : outputs.Redirects()) {
    redirects.push_back(redirect.first);
    redirects.push_back(redirect.second);
  }
  fflush(stdout);
  fflush(stderr);
  const ChildResult child = Start(watch, redirects, call_timeout_ms, argc, argv);
  int reported = 0;
  if (child.end == ChildResult::End::kExited && watch.Reported(&reported) && reported == child.exit_code) {
    if (reported == kExitOk && !outputs.Commit(&error)) {
      fprintf(stderr, "semhost: %s: %s\n", m_verb.c_str(), error.c_str());
      return kExitUsage;
    }
    return reported;  // the child's own verdict (its messages are out already)
  }
  outputs.Discard();
  return Explain(child, watch, call_timeout_ms);
}

ChildResult Supervisor::Start(const ChildWatch& watch, const std::vector<std::string>& redirects, int call_timeout_ms,
                              int argc, char** argv) const {
#if !defined(_WIN32)
  if (m_body) {
    const std::function<int()> body = [&] { return m_body(watch.token(), redirects); };
    return m_self.RunWatchedFork(body, watch, call_timeout_ms);
  }
#endif
  std::vector<std::string> args = {kChildOption, watch.token()};
  for (const std::string& redirect : redirects) args.push_back(std::string(kRedirectOption) + "=" + redirect);
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  return m_self.RunWatched(args, watch, call_timeout_ms);
}

// One line for a child that did not end by its own account.
int Supervisor::Explain(const ChildResult& child, const ChildWatch& watch, int call_timeout_ms) const {
  const std::string where = CrashReporter::Describe(watch.page()->crumbs);
  std::string how;
  switch (child.end) {
    case ChildResult::End::kNotStarted:
      fprintf(stderr, "semhost: %s: cannot start the supervised run: %s\n", m_verb.c_str(), child.start_error.c_str());
      return kExitFailed;
    case ChildResult::End::kTimedOut:
      how = "a call into the module did not return within " + std::to_string(call_timeout_ms) + " ms (--timeout-ms)";
      break;
    case ChildResult::End::kSignaled:
      how = "the run ended with " + ChildRunner::SignalName(child.signal);
      break;
    case ChildResult::End::kExited: {
      int reported = 0;
      const unsigned code = static_cast<unsigned>(child.exit_code);
      how = "the run ended with exit code " + std::to_string(child.exit_code) + " before it was done";
#if defined(_WIN32)
      if (code >= 0xC0000000u || code == 0x80000003u) how = "the run ended with " + ChildRunner::ExceptionName(code);
      if (code == 3) how = "the run aborted (exit code 3)";
#endif
      (void)code;
      if (watch.Reported(&reported)) {
        how = "the run was done (exit code " + std::to_string(reported) + ") but then ended with exit code " +
              std::to_string(child.exit_code);
      }
      break;
    }
  }
  fprintf(stderr, "semhost: %s: %s %s%s\n", m_verb.c_str(), how.c_str(), where.c_str(),
          m_outputs ? "; no output was written" : "");
  return kExitFailed;
}

SupervisedChild::SupervisedChild(const std::string& token, const std::vector<std::string>& redirects)
    : m_watch(token) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (size_t i = 0; i + 1 < redirects.size(); i += 2) {
    pairs.push_back({redirects[i], redirects[i + 1]});
    OutputFiles::RemoveOnSignal(redirects[i + 1]);
  }
  SetOutputRedirects(std::move(pairs));
  CrashReporter::Install();
  CrashReporter::Supervised(m_watch.page());
#if !defined(_WIN32)
  signal(SIGPIPE, SIG_IGN);  // a closed stdout is a write error, reported as one
#endif
}

int SupervisedChild::Finish(int exit_code) {
  if (!StdoutComplete("semhost") && exit_code == kExitOk) exit_code = kExitUsage;
  fflush(stderr);
  m_watch.Report(exit_code);
  return exit_code;
}

bool StdoutComplete(const char* verb) {
  errno = 0;
  if (fflush(stdout) == 0 && !ferror(stdout)) return true;
  // The error flag outlives the errno of the write that failed.
  fprintf(stderr, "%s: cannot write to standard output%s%s\n", verb, errno ? ": " : " (a write failed)",
          errno ? strerror(errno) : "");
  return false;
}

}  // namespace semhost
