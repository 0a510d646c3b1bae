#include "ChildWatch.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace semhost {

namespace {

constexpr uint32_t kMagic = 0x57A7C4ED;

}  // namespace

#if defined(_WIN32)

ChildWatch::ChildWatch() {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(sizeof(ChildWatchPage)), nullptr);
  if (!mapping) return;
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ChildWatchPage));
  if (!view) {
    CloseHandle(mapping);
    return;
  }
  m_handle = reinterpret_cast<intptr_t>(mapping);
  m_page = new (view) ChildWatchPage;  // the mapping is zeroed: the result area needs no writing
  m_page->magic = kMagic;
}

ChildWatch::ChildWatch(const std::string& token) {
  HANDLE mapping = reinterpret_cast<HANDLE>(static_cast<intptr_t>(strtoll(token.c_str(), nullptr, 10)));
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ChildWatchPage));
  if (!view) return;
  m_handle = reinterpret_cast<intptr_t>(mapping);
  m_page = static_cast<ChildWatchPage*>(view);
  if (m_page->magic != kMagic) {
    UnmapViewOfFile(view);
    m_page = nullptr;
  }
}

ChildWatch::~ChildWatch() {
  if (m_page) UnmapViewOfFile(m_page);
  if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

#else

ChildWatch::ChildWatch() {
  // A file that is deleted at once: nothing is left behind whatever ends us.
  const char* dir = getenv("TMPDIR");
  std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/semhost-watch-XXXXXX";
  const int fd = mkstemp(&pattern[0]);
  if (fd < 0) return;
  unlink(pattern.c_str());
  void* memory = MAP_FAILED;
  if (ftruncate(fd, static_cast<off_t>(sizeof(ChildWatchPage))) == 0) {
    memory = mmap(nullptr, sizeof(ChildWatchPage), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  if (memory == MAP_FAILED) {
    close(fd);
    return;
  }
  m_handle = fd;  // inherited by the children (no close-on-exec)
  m_page = new (memory) ChildWatchPage;  // the new file is zeroed: the result area needs no writing
  m_page->magic = kMagic;
}

ChildWatch::ChildWatch(const std::string& token) {
  const int fd = atoi(token.c_str());
  if (fd < 0) return;
  void* memory = mmap(nullptr, sizeof(ChildWatchPage), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);  // the mapping keeps the pages; module code must not inherit the descriptor
  if (memory == MAP_FAILED) return;
  m_page = static_cast<ChildWatchPage*>(memory);
  if (m_page->magic != kMagic) {
    munmap(memory, sizeof(ChildWatchPage));
    m_page = nullptr;
  }
}

ChildWatch::~ChildWatch() {
  if (m_page) munmap(m_page, sizeof(ChildWatchPage));
  if (m_handle >= 0) close(static_cast<int>(m_handle));
}

#endif

std::string ChildWatch::token() const { return std::to_string(static_cast<long long>(m_handle)); }

void ChildWatch::Report(int exit_code, const std::string& result) {
  if (!m_page) return;
  const size_t n = std::min(result.size(), sizeof m_page->result);
  memcpy(m_page->result, result.data(), n);
  m_page->result_size = static_cast<uint32_t>(n);
  m_page->exit_code = exit_code;
  m_page->reported.store(1, std::memory_order_release);
}

bool ChildWatch::Reported(int* exit_code) const {
  if (!m_page || m_page->reported.load(std::memory_order_acquire) != 1) return false;
  *exit_code = m_page->exit_code;
  return true;
}

std::string ChildWatch::Result() const {
  if (!m_page || m_page->reported.load(std::memory_order_acquire) != 1) return "";
  return std::string(m_page->result, std::min<size_t>(m_page->result_size, sizeof m_page->result));
}

void ChildWatch::Reset() {
  if (!m_page) return;
  m_page->~ChildWatchPage();
  m_page = new (m_page) ChildWatchPage;  // result_size 0: the old result is never read
  m_page->magic = kMagic;
}

}  // namespace semhost
