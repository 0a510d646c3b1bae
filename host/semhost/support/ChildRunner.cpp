#include "ChildRunner.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <thread>

#include "TempDir.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace semhost {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

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

std::string ChildRunner::SignalName(int signal) { return "signal " + std::to_string(signal); }

std::string ChildRunner::SelfPath(const char* argv0) {
  char path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length > 0 && length < sizeof path) return path;
  return argv0 ? argv0 : "";
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
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  const auto start = Clock::now();
  // A crashing child must not open the system's error dialog and wait.
  const UINT previous_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                      &process);
  SetErrorMode(previous_mode);
  CloseHandle(out);
  CloseHandle(err);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (!started) {
    result.start_error = "cannot start " + m_program + " (error " + std::to_string(GetLastError()) + ")";
    return result;
  }
  const DWORD waited = WaitForSingleObject(process.hProcess, timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : INFINITE);
  if (waited == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 124);
    WaitForSingleObject(process.hProcess, INFINITE);
    result.end = ChildResult::End::kTimedOut;
  } else {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.end = ChildResult::End::kExited;
    result.exit_code = static_cast<int>(code);
  }
  result.seconds = SecondsSince(start);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  result.out = ReadFile(dir.File("out"));
  result.err = ReadFile(dir.File("err"));
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

// Starts the child; answers its pid, or -1 with `error_number` set to the
// errno of a failed exec.
pid_t Spawn(const std::vector<std::string>& command, int out, int err, int* error_number) {
  int report[2];
  if (pipe(report) != 0) {
    *error_number = errno;
    return -1;
  }
  fcntl(report[1], F_SETFD, FD_CLOEXEC);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execvp(argv[0], argv.data());  // a bare name (an emulator, say) is looked up in PATH
    const int failure = errno;
    ssize_t ignored = write(report[1], &failure, sizeof failure);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  if (pid < 0) {
    *error_number = errno;
    close(report[0]);
    return -1;
  }
  int failure = 0;
  const ssize_t n = read(report[0], &failure, sizeof failure);
  close(report[0]);
  if (n == sizeof failure) {
    waitpid(pid, nullptr, 0);
    *error_number = failure;
    return -1;
  }
  return pid;
}

}  // namespace

ChildResult ChildRunner::Run(const std::vector<std::string>& args, int timeout_ms) const {
  ChildResult result;
  TempDir dir;
  if (!dir.ok()) {
    result.start_error = std::string("cannot make a temporary folder: ") + strerror(errno);
    return result;
  }
  const int out = open(dir.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err = open(dir.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0 || err < 0) {
    result.start_error = std::string("cannot make the output files: ") + strerror(errno);
    if (out >= 0) close(out);
    if (err >= 0) close(err);
    return result;
  }
  std::vector<std::string> command = {m_program};
  command.insert(command.end(), args.begin(), args.end());
  if (m_always_emulate && !m_emulator.empty()) command.insert(command.begin(), m_emulator);
  const auto start = Clock::now();
  int error_number = 0;
  pid_t pid = Spawn(command, out, err, &error_number);
  if (pid < 0 && error_number == ENOEXEC && !m_emulator.empty() && !m_always_emulate) {
    command.insert(command.begin(), m_emulator);
    pid = Spawn(command, out, err, &error_number);
  }
  close(out);
  close(err);
  if (pid < 0) {
    result.start_error = "cannot run " + command.front() + ": " + strerror(error_number);
    return result;
  }

  int status = 0;
  bool asked_to_stop = false;
  auto stop_asked_at = start;
  auto delay = std::chrono::microseconds(200);
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    const auto now = Clock::now();
    if (!asked_to_stop && timeout_ms > 0 && now - start >= std::chrono::milliseconds(timeout_ms)) {
      kill(pid, SIGUSR1);  // the child reports where it is and ends
      asked_to_stop = true;
      stop_asked_at = now;
      result.end = ChildResult::End::kTimedOut;
    } else if (asked_to_stop && now - stop_asked_at >= std::chrono::milliseconds(500)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(delay);
    if (delay < std::chrono::milliseconds(2)) delay *= 2;
  }
  result.seconds = SecondsSince(start);
  if (result.end != ChildResult::End::kTimedOut) {
    if (WIFSIGNALED(status)) {
      result.end = ChildResult::End::kSignaled;
      result.signal = WTERMSIG(status);
    } else {
      result.end = ChildResult::End::kExited;
      result.exit_code = WEXITSTATUS(status);
    }
  }
  result.out = ReadFile(dir.File("out"));
  result.err = ReadFile(dir.File("err"));
  return result;
}

#endif

}  // namespace semhost
