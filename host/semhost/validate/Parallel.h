#pragma once
// Jobs run on worker threads of their own, their completions taken in the
// order of the jobs: what validate's -j and the threads check need, on every
// platform the tools build for (plain system threads where the C++ library
// has none).

#include <stddef.h>

#include <functional>

namespace semhost {

// The number of processors the system runs programs on (at least 1).
int CoreCount();

// Runs job(0) … job(count - 1) on up to `workers` threads, each job once;
// calls done(i) on this thread for every i in order, as soon as job(i) and
// every job before it have ended. With one worker every job runs here.
void ForEachInParallel(size_t count, int workers, const std::function<void(size_t)>& job,
                       const std::function<void(size_t)>& done = nullptr);

}  // namespace semhost
