#include "Parallel.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace semhost {

namespace {

struct Shared {
  size_t count;
  const std::function<void(size_t)>* job;
  std::atomic<size_t> next{0};
  std::unique_ptr<std::atomic<bool>[]> ended;
};

void Work(Shared* shared) {
  for (size_t i = shared->next++; i < shared->count; i = shared->next++) {
    (*shared->job)(i);
    shared->ended[i].store(true);
  }
}

#if defined(_WIN32)
DWORD WINAPI WorkEntry(void* shared) {
  Work(static_cast<Shared*>(shared));
  return 0;
}
using Handle = HANDLE;
Handle Start(Shared* shared) { return CreateThread(nullptr, 0, WorkEntry, shared, 0, nullptr); }
void Join(Handle handle) {
  WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
}
#else
void* WorkEntry(void* shared) {
  Work(static_cast<Shared*>(shared));
  return nullptr;
}
using Handle = pthread_t;
Handle Start(Shared* shared) {
  pthread_t thread;
  pthread_create(&thread, nullptr, WorkEntry, shared);
  return thread;
}
void Join(Handle handle) { pthread_join(handle, nullptr); }
#endif

}  // namespace

int CoreCount() {
#if defined(_WIN32)
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
#else
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  return cores > 0 ? static_cast<int>(cores) : 1;
#endif
}

void ForEachInParallel(size_t count, int workers, const std::function<void(size_t)>& job,
                       const std::function<void(size_t)>& done) {
  if (workers <= 1 || count <= 1) {
    for (size_t i = 0; i < count; ++i) {
      job(i);
      if (done) done(i);
    }
    return;
  }
  Shared shared;
  shared.count = count;
  shared.job = &job;
  shared.ended.reset(new std::atomic<bool>[count]);
  for (size_t i = 0; i < count; ++i) shared.ended[i].store(false);
  std::vector<Handle> threads;
  for (int w = 0; w < workers && static_cast<size_t>(w) < count; ++w) threads.push_back(Start(&shared));
  for (size_t i = 0; i < count; ++i) {
    while (!shared.ended[i].load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (done) done(i);
  }
  for (Handle thread : threads) Join(thread);
}

}  // namespace semhost
