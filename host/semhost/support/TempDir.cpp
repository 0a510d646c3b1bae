#include "TempDir.h"

#include <stdio.h>
#include <stdlib.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace semhost {

TempDir::TempDir() {
#if defined(_WIN32)
  char base[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length > MAX_PATH) return;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = std::string(base) + "semhost." + std::to_string(GetCurrentProcessId()) + "." +
                                  std::to_string(GetTickCount() + attempt);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      m_path = candidate;
      return;
    }
  }
#else
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/semhost.XXXXXX";
  if (mkdtemp(&pattern[0])) m_path = pattern;
#endif
}

TempDir::~TempDir() {
  if (m_path.empty()) return;
#if defined(_WIN32)
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((m_path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") DeleteFileA(File(name).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(m_path.c_str());
#else
  if (DIR* dir = opendir(m_path.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") unlink(File(name).c_str());
    }
    closedir(dir);
  }
  rmdir(m_path.c_str());
#endif
}

std::string TempDir::File(const std::string& name) const {
#if defined(_WIN32)
  return m_path + "\\" + name;
#else
  return m_path + "/" + name;
#endif
}

std::string ReadFile(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return "";
  std::string content;
  char buffer[8192];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
  fclose(file);
  return content;
}

}  // namespace semhost
