#pragma once
// Process calls of one length at offset 0, made back to back without a trace
// entry or a notice each: the host's path for long runs of blocks with
// nothing to watch per call (a render's blocks between events). While the run
// lasts, the host answers the module's callbacks as during any call of its
// own, and traces them; its watcher was told of the run as of one call
// (CallWatcher::TakesQuietRuns) and counts each call on its counter.

#include <stdint.h>

#include <atomic>

#include "AudioRecord.h"
#include "StandInHost.h"

namespace sehost {

class QuietProcessRun {
 public:
  // Starts a run of `frames`-frame calls on `host`'s audio half; nothing
  // starts, and ok() is false, when the host cannot run quietly
  // (StandInHost::CanRunQuietly).
  QuietProcessRun(StandInHost& host, int32_t frames);
  // Ends the run; the watcher is told, as of a call that returned.
  ~QuietProcessRun();
  QuietProcessRun(const QuietProcessRun&) = delete;
  QuietProcessRun& operator=(const QuietProcessRun&) = delete;

  bool ok() const { return m_record != nullptr; }
  // One call of process_function(module, 0, frames). The caller checks
  // afterwards that the half is still there before the next.
  void Call() {
    if (m_counter) m_counter->store(m_counter->load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    m_record->process_function(m_record->module, 0, m_frames);
  }

 private:
  StandInHost& m_host;
  AudioRecord* m_record = nullptr;
  int32_t m_frames;
  std::atomic<uint32_t>* m_counter = nullptr;
  StandInHost* m_previous = nullptr;  // the host answering before the run
  TraceEntry m_entry{};               // what the watcher was told
};

}  // namespace sehost
