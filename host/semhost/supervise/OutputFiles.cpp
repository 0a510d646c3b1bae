#include "OutputFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "ChildRunner.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace semhost {

namespace {

// The temporaries now on disk, in fixed storage for the signal handlers.
constexpr int kMaxTemporaries = 16;
char g_temporaries[kMaxTemporaries][4096];

int Register(const std::string& path) {
  for (int i = 0; i < kMaxTemporaries; ++i) {
    if (g_temporaries[i][0] == 0 && path.size() < sizeof g_temporaries[i]) {
      memcpy(g_temporaries[i], path.c_str(), path.size() + 1);
      return i;
    }
  }
  return -1;
}

void Unregister(const std::string& path) {
  for (auto& slot : g_temporaries) {
    if (path == slot) slot[0] = 0;
  }
}

void RemoveTemporaries() {
  for (auto& slot : g_temporaries) {
    if (slot[0]) {
#if defined(_WIN32)
      _unlink(slot);
#else
      unlink(slot);
#endif
    }
  }
}

void OnSignal(int signal) {
  ChildRunner::KillRunningChild();
  RemoveTemporaries();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void InstallHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
#if defined(_WIN32)
  for (int s : {SIGINT, SIGTERM, SIGBREAK}) signal(s, OnSignal);
#else
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(s, &action, nullptr);
#endif
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The extension of the file name, dot included, when short; the temporary
// keeps it, since writers choose a format by it.
std::string ExtensionOf(const std::string& path) {
  const std::string name = NameOf(path);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0 || name.size() - dot > 16) return "";
  return name.substr(dot);
}

#if defined(_WIN32)

std::string ResolveLinks(const std::string& path) { return path; }

// A file's identity: its full path, without case.
bool Identity(const std::string& path, std::string* id) {
  struct _stat64 info;
  if (_stat64(path.c_str(), &info) != 0) return false;
  char full[MAX_PATH * 4];
  if (!_fullpath(full, path.c_str(), sizeof full)) return false;
  *id = full;
  for (char& c : *id) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return true;
}

bool MakeTemporary(const std::string& target, std::string* temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = FolderOf(target) + "\\.semhost-XXXXXX";
    if (_mktemp_s(&name[0], name.size() + 1) != 0) return false;
    name += ExtensionOf(target);
    const int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      _close(fd);
      *temporary = name;
      return true;
    }
  }
  return false;
}

bool Replace(const std::string& temporary, const std::string& target) {
  return MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool Writable(const std::string& folder) { return _access(folder.c_str(), 2) == 0; }

#else

// The file a write to `path` really reaches: symbolic links followed, even
// to a file that does not exist yet.
std::string ResolveLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    char link[4096];
    const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
    if (n <= 0) break;
    const std::string to(link, static_cast<size_t>(n));
    path = to[0] == '/' ? to : FolderOf(path) + "/" + to;
  }
  return path;
}

// A file's identity: device and inode, links followed; for a file that does
// not exist yet, its folder's real path and its name.
bool Identity(const std::string& path, std::string* id) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  *id = std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
        std::to_string(static_cast<unsigned long long>(info.st_ino));
  return true;
}

bool MakeTemporary(const std::string& target, std::string* temporary) {
  const std::string extension = ExtensionOf(target);
  std::string name = FolderOf(target) + "/.semhost-XXXXXX" + extension;
  const int fd = mkstemps(&name[0], static_cast<int>(extension.size()));
  if (fd < 0) return false;
  close(fd);
  *temporary = name;
  return true;
}

bool Replace(const std::string& temporary, const std::string& target) {
  struct stat info;
  mode_t mode;
  if (stat(target.c_str(), &info) == 0) {
    mode = info.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  return chmod(temporary.c_str(), mode) == 0 && rename(temporary.c_str(), target.c_str()) == 0;
}

bool Writable(const std::string& folder) { return access(folder.c_str(), W_OK | X_OK) == 0; }

#endif

// Identity of a file that may not exist yet: its own, or its folder's and its name.
std::string TargetIdentity(const std::string& target) {
  std::string id;
  if (Identity(target, &id)) return id;
  if (Identity(FolderOf(target), &id)) return id + "/" + NameOf(target);
  return target;
}

}  // namespace

OutputFiles::~OutputFiles() { Discard(); }

void OutputFiles::RemoveOnSignal(const std::string& path) {
  InstallHandlers();
  Register(path);
}

void OutputFiles::AddInput(const std::string& path, const std::string& label) {
  if (!path.empty()) m_inputs.push_back({path, label});
}

void OutputFiles::AddOutput(const std::string& path, const std::string& label) {
  if (!path.empty()) m_outputs.push_back({path, label, "", "", false});
}

bool OutputFiles::Check(Output* output, std::string* error) const {
  const std::string& given = output->given;
  output->target = ResolveLinks(given);
  struct stat info;
  if (stat(output->target.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return *error = "cannot write " + given + " (" + output->label + "): it is a folder", false;
    if (!S_ISREG(info.st_mode)) {
      return *error = "cannot write " + given + " (" + output->label +
                      "): it is not a regular file (outputs are written beside it and renamed into place)",
             false;
    }
  }
  if (!Writable(FolderOf(output->target))) {
    return *error = "cannot write " + given + " (" + output->label + "): its folder " + FolderOf(output->target) +
                    " is missing or not writable",
           false;
  }
  const std::string id = TargetIdentity(output->target);
  for (const Input& input : m_inputs) {
    std::string input_id;
    if (Identity(input.path, &input_id) && input_id == id) {
      return *error = "the output " + given + " (" + output->label + ") is the input " + input.path + " (" +
                      input.label + "): semhost never writes over a file it reads",
             false;
    }
  }
  for (const Output& other : m_outputs) {
    if (&other == output) break;
    if (TargetIdentity(other.target) == id) {
      return *error = "the outputs " + other.given + " (" + other.label + ") and " + given + " (" + output->label +
                      ") are the same file",
             false;
    }
  }
  return true;
}

bool OutputFiles::CheckPlan(std::string* error) {
  for (const Input& input : m_inputs) {
    struct stat info;
    // A FIFO or device would block or never end; a missing file is the run's to report.
    if (stat(input.path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
      *error = "cannot read " + input.path + " (" + input.label + "): " +
               (S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file (a FIFO or a device, say)");
      return false;
    }
  }
  for (Output& output : m_outputs) {
    if (!Check(&output, error)) return false;
  }
  return true;
}

bool OutputFiles::Prepare(std::string* error) {
  if (!CheckPlan(error)) return false;
  InstallHandlers();
  for (Output& output : m_outputs) {
    if (!MakeTemporary(output.target, &output.temporary)) {
      *error = "cannot write " + output.given + " (" + output.label + "): cannot make a file in " +
               FolderOf(output.target) + ": " + strerror(errno);
      Discard();
      return false;
    }
    if (Register(output.temporary) < 0) {
      *error = "too many outputs";
      Discard();
      return false;
    }
  }
  return true;
}

const std::string& OutputFiles::TemporaryFor(const std::string& path) const {
  for (const Output& output : m_outputs) {
    if (output.given == path && !output.temporary.empty()) return output.temporary;
  }
  return path;
}

std::vector<std::pair<std::string, std::string>> OutputFiles::Redirects() const {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const Output& output : m_outputs) pairs.push_back({output.given, output.temporary});
  return pairs;
}

bool OutputFiles::Commit(std::string* error) {
  for (Output& output : m_outputs) {
    if (output.committed || output.temporary.empty()) continue;
    if (!Replace(output.temporary, output.target)) {
      *error = "cannot put " + output.given + " in place: " + strerror(errno);
      return false;
    }
    output.committed = true;
    Unregister(output.temporary);
  }
  return true;
}

void OutputFiles::Discard() {
  for (Output& output : m_outputs) {
    if (output.committed || output.temporary.empty()) continue;
#if defined(_WIN32)
    _unlink(output.temporary.c_str());
#else
    unlink(output.temporary.c_str());
#endif
    Unregister(output.temporary);
    output.temporary.clear();
  }
}

}  // namespace semhost
