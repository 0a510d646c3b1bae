#pragma once
// The one listener a host calls directly as each traced call starts and
// returns (StandInHost::SetWatcher): what must see every call, such as a
// session's crash notes and trace, without a subscription list's bookkeeping
// on every process call. Subscribers (OnCall, OnReturn) are told after it.

#include <stdint.h>

#include <atomic>

namespace sehost {

struct TraceEntry;
class StandInHost;

class CallWatcher {
 public:
  // `entry` as the host has just recorded it (result not yet known).
  virtual void CallStarted(const TraceEntry& entry, const StandInHost& host) = 0;
  // `entry` with its result, once the call has returned.
  virtual void CallReturned(const TraceEntry& entry, const StandInHost& host) = 0;

  // Quiet runs (QuietProcessRun): process calls alike, made back to back
  // without a trace entry or a notice each. A watcher that takes them is told
  // of a run as of one call (`entry` stands for all of them) and answers a
  // counter (or null) to which the host adds one before each call, so a time
  // limit can tell one call from the next and a crash report which call it
  // was. A watcher that must see every call (a trace) keeps the default: no runs.
  virtual bool TakesQuietRuns() const { return false; }
  virtual std::atomic<uint32_t>* QuietRunStarted(const TraceEntry& entry, const StandInHost& host) {
    CallStarted(entry, host);
    return nullptr;
  }
  virtual void QuietRunEnded(const TraceEntry& entry, const StandInHost& host) { CallReturned(entry, host); }

 protected:
  ~CallWatcher() = default;
};

}  // namespace sehost
