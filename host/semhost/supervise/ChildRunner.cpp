#include "ChildRunner.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "ChildWatch.h"
#include "TempDir.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#endif

namespace semhost {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Times the outermost call into the module that a child has open, from the
// page it shares: a call is the same call while its number stays.
class CallTimer {
 public:
  CallTimer(const Breadcrumbs& crumbs, int timeout_ms) : m_crumbs(crumbs), m_timeout(timeout_ms) {}
  // True once one call has stayed open for the time limit (never without one).
  bool Expired() {
    if (m_timeout <= 0) return false;
    const bool open = m_crumbs.open_count.load(std::memory_order_acquire) > 0;
    const uint32_t call = m_crumbs.outer_calls.load(std::memory_order_relaxed);
    const auto now = Clock::now();
    if (!open) {
      m_timing = false;
    } else if (!m_timing || call != m_call) {
      m_timing = true;
      m_call = call;
      m_start = now;
    }
    return m_timing && now - m_start >= std::chrono::milliseconds(m_timeout);
  }

 private:
  const Breadcrumbs& m_crumbs;
  int m_timeout;
  bool m_timing = false;
  uint32_t m_call = 0;
  Clock::time_point m_start;
};

}  // namespace

ChildRunner::ChildRunner(std::string program, std::string emulator, bool always_emulate)
    : m_program(std::move(program)), m_emulator(std::move(emulator)), m_always_emulate(always_emulate) {}

std::string ChildRunner::ExceptionName(unsigned code) {
  switch (code) {
    case 0xC0000005u: return "access violation (0xC0000005)";
    case 0xC00000FDu: return "stack overflow (0xC00000FD)";
    case 0xC000001Du: return "illegal instruction (0xC000001D)";
    case 0xC0000094u: return "integer division by zero (0xC0000094)";
    case 0xC0000409u: return "stack buffer overrun or fail-fast (0xC0000409)";
    case 0x80000003u: return "breakpoint (0x80000003)";
    default: {
      char text[40];
      snprintf(text, sizeof text, "exception 0x%08X", code);
      return text;
    }
  }
}

#if defined(_WIN32)

namespace {

// One argument quoted for CommandLineToArgvW's rules.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
    } else if (c == '"') {
      out += std::string(backslashes + 1, '\\') + '"';  // n more after the n written, then one for the quote
      backslashes = 0;
      continue;
    } else {
      backslashes = 0;
    }
    if (c != '"') out += c;
  }
  out += std::string(backslashes, '\\') + '"';
  return out;
}

HANDLE InheritableFile(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &attributes, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string ChildRunner::SelfPath(const char* argv0) {
  char path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length > 0 && length < sizeof path) return path;
  return argv0 ? argv0 : "";
}

std::string ChildRunner::SignalName(int signal) { return "signal " + std::to_string(signal); }

namespace {

// A job that ends every process in it when its last handle closes: when we
// end, however we end, so do our children.
HANDLE ChildJob() {
  static HANDLE job = [] {
    HANDLE made = CreateJobObjectA(nullptr, nullptr);
    if (made) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
      memset(&limits, 0, sizeof limits);
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return made;
  }();
  return job;
}

std::atomic<HANDLE> g_running_child{nullptr};

// Starts `command` with the given standard handles, in our job.
bool Start(std::string command, HANDLE in, HANDLE out, HANDLE err, PROCESS_INFORMATION* process, std::string* error) {
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  memset(process, 0, sizeof *process);
  // A crashing child must not open the system's error dialog and wait.
  const UINT previous_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                                      &startup, process);
  SetErrorMode(previous_mode);
  if (!started) {
    *error = "cannot start the program (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (HANDLE job = ChildJob()) AssignProcessToJobObject(job, process->hProcess);
  g_running_child.store(process->hProcess);
  ResumeThread(process->hThread);
  return true;
}

void SetEnd(HANDLE process, ChildResult* result) {
  g_running_child.store(nullptr);
  if (result->end == ChildResult::End::kTimedOut) return;
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  result->end = ChildResult::End::kExited;
  result->exit_code = static_cast<int>(code);
}

}  // namespace

void ChildRunner::KillRunningChild() {
  if (HANDLE process = g_running_child.load()) TerminateProcess(process, 124);
}

ChildResult ChildRunner::Run(const std::vector<std::string>& args, int timeout_ms) const {
  ChildResult result;
  TempDir dir;
  if (!dir.ok()) {
    result.start_error = "cannot make a temporary folder";
    return result;
  }
  std::string command = m_always_emulate && !m_emulator.empty() ? Quote(m_emulator) + " " + Quote(m_program) : Quote(m_program);
  for (const std::string& arg : args) command += " " + Quote(arg);
  HANDLE out = InheritableFile(dir.File("out"), true);
  HANDLE err = InheritableFile(dir.File("err"), true);
  HANDLE in = InheritableFile("NUL", false);
  PROCESS_INFORMATION process;
  const auto start = Clock::now();
  const bool started = Start(command, in, out, err, &process, &result.start_error);
  CloseHandle(out);
  CloseHandle(err);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (!started) return result;
  const DWORD waited = WaitForSingleObject(process.hProcess, timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : INFINITE);
  if (waited == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 124);
    WaitForSingleObject(process.hProcess, INFINITE);
    result.end = ChildResult::End::kTimedOut;
  }
  SetEnd(process.hProcess, &result);
  result.seconds = SecondsSince(start);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  result.out = ReadFile(dir.File("out"));
  result.err = ReadFile(dir.File("err"));
  return result;
}

ChildResult ChildRunner::RunWatched(const std::vector<std::string>& args, const ChildWatch& watch,
                                    int call_timeout_ms) const {
  ChildResult result;
  std::string command = m_always_emulate && !m_emulator.empty() ? Quote(m_emulator) + " " + Quote(m_program) : Quote(m_program);
  for (const std::string& arg : args) command += " " + Quote(arg);
  HANDLE in = InheritableFile("NUL", false);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  for (HANDLE h : {out, err}) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  PROCESS_INFORMATION process;
  const auto start = Clock::now();
  const bool started = Start(command, in, out, err, &process, &result.start_error);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (!started) return result;
  CallTimer timer(watch.page()->crumbs, call_timeout_ms);
  while (WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) {
    if (timer.Expired()) {
      TerminateProcess(process.hProcess, 124);
      WaitForSingleObject(process.hProcess, INFINITE);
      result.end = ChildResult::End::kTimedOut;
      break;
    }
  }
  SetEnd(process.hProcess, &result);
  result.seconds = SecondsSince(start);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

#else

std::string ChildRunner::SignalName(int signal) {
  const char* name = nullptr;
  switch (signal) {
    case SIGABRT: name = "SIGABRT (abort)"; break;
    case SIGSEGV: name = "SIGSEGV (segmentation fault)"; break;
    case SIGBUS: name = "SIGBUS (bus error)"; break;
    case SIGFPE: name = "SIGFPE (arithmetic exception)"; break;
    case SIGILL: name = "SIGILL (illegal instruction)"; break;
    case SIGKILL: name = "SIGKILL (killed)"; break;
    case SIGTERM: name = "SIGTERM (terminated)"; break;
    case SIGTRAP: name = "SIGTRAP (trap)"; break;
    case SIGSYS: name = "SIGSYS (bad system call)"; break;
    default: break;
  }
  return name ? name : "signal " + std::to_string(signal);
}

std::string ChildRunner::SelfPath(const char* argv0) {
  std::string candidate;
  if (argv0 && strchr(argv0, '/')) {
    candidate = argv0;
  } else if (argv0 && *argv0) {
    // A bare name was found through PATH; look for it the same way.
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "";
    for (size_t start = 0; start <= dirs.size();) {
      size_t end = dirs.find(':', start);
      if (end == std::string::npos) end = dirs.size();
      const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
      const std::string file = dir + "/" + argv0;
      if (access(file.c_str(), X_OK) == 0) {
        candidate = file;
        break;
      }
      start = end + 1;
    }
  }
  if (!candidate.empty()) {
    if (char* real = realpath(candidate.c_str(), nullptr)) {
      candidate = real;
      free(real);
    }
    return candidate;
  }
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) return std::string(self, static_cast<size_t>(length));
  return argv0 ? argv0 : "";
}

namespace {

std::atomic<pid_t> g_running_child{0};

// The command with the emulator where asked for, and how to start it.
struct Launch {
  std::vector<std::string> command;
  int out = 1;  // the child's stdout and stderr
  int err = 2;
  int death_signal = SIGKILL;  // what the child gets when we die
  // When set, the forked child runs this and ends with its answer instead of
  // executing `command`: no second program start, no second dynamic link.
  const std::function<int()>* body = nullptr;
};

// Starts the child; answers its pid, or -1 with `error_number` set to the
// errno of a failed exec. The child dies with us, and its stdin is empty.
pid_t Spawn(const Launch& launch, int* error_number) {
  int report[2];
  if (pipe(report) != 0) {
    *error_number = errno;
    return -1;
  }
  fcntl(report[1], F_SETFD, FD_CLOEXEC);
  std::vector<char*> argv;
  for (const std::string& word : launch.command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
#if defined(__linux__)
    prctl(PR_SET_PDEATHSIG, launch.death_signal);
    if (getppid() != parent) _exit(127);  // the parent died before the line above
#endif
    signal(SIGPIPE, SIG_DFL);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    if (launch.out != 1) dup2(launch.out, 1);
    if (launch.err != 2) dup2(launch.err, 2);
    if (launch.body) {
      close(report[1]);  // the parent learns at once that the child runs
      _exit((*launch.body)());
    }
    execvp(argv[0], argv.data());  // a bare name (an emulator, say) is looked up in PATH
    const int failure = errno;
    ssize_t ignored = write(report[1], &failure, sizeof failure);
    (void)ignored;
    _exit(127);
  }
  (void)parent;
  close(report[1]);
  if (pid < 0) {
    *error_number = errno;
    close(report[0]);
    return -1;
  }
  int failure = 0;
  ssize_t n;
  do {
    n = read(report[0], &failure, sizeof failure);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n == sizeof failure) {
    waitpid(pid, nullptr, 0);
    *error_number = failure;
    return -1;
  }
  g_running_child.store(pid);
  return pid;
}

// Spawn, through the emulator where the system cannot run the program.
pid_t SpawnProgram(Launch launch, const std::string& emulator, bool always, std::string* error) {
  if (always && !emulator.empty()) launch.command.insert(launch.command.begin(), emulator);
  int error_number = 0;
  pid_t pid = Spawn(launch, &error_number);
  if (pid < 0 && error_number == ENOEXEC && !emulator.empty() && !always) {
    launch.command.insert(launch.command.begin(), emulator);
    pid = Spawn(launch, &error_number);
  }
  if (pid < 0) *error = "cannot run " + launch.command.front() + ": " + strerror(error_number);
  return pid;
}

void SetEnd(int status, ChildResult* result) {
  if (result->end == ChildResult::End::kTimedOut) return;
  if (WIFSIGNALED(status)) {
    result->end = ChildResult::End::kSignaled;
    result->signal = WTERMSIG(status);
  } else {
    result->end = ChildResult::End::kExited;
    result->exit_code = WEXITSTATUS(status);
  }
}

// Whether the child has ended (its status reaped into `status`).
bool Ended(pid_t pid, int* status) {
  const pid_t done = waitpid(pid, status, WNOHANG);
  if (done == pid || (done < 0 && errno != EINTR)) {
    g_running_child.store(0);
    return true;
  }
  return false;
}

void KillAndReap(pid_t pid, int* status) {
  kill(pid, SIGKILL);
  while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
  }
  g_running_child.store(0);
}

// Reads what is ready on the child's pipes; closes a pipe at its end.
void Drain(int* fds, std::string* texts, int wait_ms) {
  pollfd polled[2];
  int count = 0;
  for (int i = 0; i < 2; ++i) {
    if (fds[i] >= 0) polled[count++] = {fds[i], POLLIN, 0};
  }
  if (count == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
    return;
  }
  if (poll(polled, static_cast<nfds_t>(count), wait_ms) <= 0) return;
  for (int p = 0; p < count; ++p) {
    if (!(polled[p].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const int i = polled[p].fd == fds[0] ? 0 : 1;
    char buffer[65536];
    const ssize_t n = read(fds[i], buffer, sizeof buffer);
    if (n > 0) {
      texts[i].append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      close(fds[i]);
      fds[i] = -1;
    }
  }
}

}  // namespace

void ChildRunner::KillRunningChild() {
  const pid_t pid = g_running_child.load();
  if (pid > 0) kill(pid, SIGKILL);
}

ChildResult ChildRunner::Run(const std::vector<std::string>& args, int timeout_ms) const {
  ChildResult result;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) {
    result.start_error = std::string("cannot make pipes: ") + strerror(errno);
    return result;
  }
  for (int fd : {out[0], err[0], out[1], err[1]}) fcntl(fd, F_SETFD, FD_CLOEXEC);
  Launch launch{{m_program}, out[1], err[1], SIGKILL};
  launch.command.insert(launch.command.end(), args.begin(), args.end());
  const auto start = Clock::now();
  const pid_t pid = SpawnProgram(launch, m_emulator, m_always_emulate, &result.start_error);
  close(out[1]);
  close(err[1]);
  int fds[2] = {out[0], err[0]};
  std::string texts[2];
  int status = 0;
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  for (;;) {
    Drain(fds, texts, 2);
    if (Ended(pid, &status)) break;
    if (timeout_ms > 0 && Clock::now() - start >= std::chrono::milliseconds(timeout_ms)) {
      kill(pid, SIGUSR1);  // the child reports where it is and ends
      result.end = ChildResult::End::kTimedOut;
      const auto asked = Clock::now();
      while (!Ended(pid, &status)) {
        Drain(fds, texts, 2);
        if (Clock::now() - asked >= std::chrono::milliseconds(500)) {
          KillAndReap(pid, &status);
          break;
        }
      }
      break;
    }
  }
  // The rest, now that the child is gone; a descendant that keeps a pipe
  // open is not waited for long.
  const auto ended = Clock::now();
  while ((fds[0] >= 0 || fds[1] >= 0) && Clock::now() - ended < std::chrono::seconds(2)) Drain(fds, texts, 20);
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
  result.seconds = SecondsSince(start);
  SetEnd(status, &result);
  result.out = std::move(texts[0]);
  result.err = std::move(texts[1]);
  return result;
}

ChildResult ChildRunner::RunWatched(const std::vector<std::string>& args, const ChildWatch& watch,
                                    int call_timeout_ms) const {
  return RunWatchedLaunch(args, nullptr, watch, call_timeout_ms);
}

ChildResult ChildRunner::RunWatchedFork(const std::function<int()>& body, const ChildWatch& watch,
                                        int call_timeout_ms) const {
  return RunWatchedLaunch({}, &body, watch, call_timeout_ms);
}

ChildResult ChildRunner::RunWatchedLaunch(const std::vector<std::string>& args, const std::function<int()>* body,
                                          const ChildWatch& watch, int call_timeout_ms) const {
  ChildResult result;
  // SIGTERM, so that a child whose parent was killed outright still removes
  // the temporaries it was writing.
  Launch launch{{m_program}, 1, 2, SIGTERM, body};
  launch.command.insert(launch.command.end(), args.begin(), args.end());
  // The child holds the write end of a pipe; its end closes it and wakes us at once.
  int ended[2];
  if (pipe(ended) != 0) {
    result.start_error = std::string("cannot make a pipe: ") + strerror(errno);
    return result;
  }
  fcntl(ended[0], F_SETFD, FD_CLOEXEC);
  const auto start = Clock::now();
  const pid_t pid = SpawnProgram(launch, m_emulator, m_always_emulate, &result.start_error);
  close(ended[1]);
  if (pid < 0) {
    close(ended[0]);
    return result;
  }
  CallTimer timer(watch.page()->crumbs, call_timeout_ms);
  int status = 0;
  // The pipe hangs up as the child's files close, a moment before it can be
  // reaped; from then on it is polled every 100 microseconds, so that its end
  // is seen at once, not after another 5 ms wait.
  int wait_us = 5000;
  while (!Ended(pid, &status)) {
    pollfd wait = {ended[0], POLLIN, 0};
    if (ended[0] < 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(wait_us));
    } else if (poll(&wait, 1, wait_us / 1000) > 0 && (wait.revents & (POLLHUP | POLLERR))) {
      close(ended[0]);
      ended[0] = -1;
      wait_us = 100;
    }
    if (timer.Expired()) {
      result.end = ChildResult::End::kTimedOut;
      KillAndReap(pid, &status);
      break;
    }
  }
  if (ended[0] >= 0) close(ended[0]);
  result.seconds = SecondsSince(start);
  SetEnd(status, &result);
  return result;
}

#endif

}  // namespace semhost
