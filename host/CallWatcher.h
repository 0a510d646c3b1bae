#pragma once
// The one listener a host calls directly as each traced call starts and
// returns (StandInHost::SetWatcher): what must see every call, such as a
// session's crash notes and trace, without a subscription list's bookkeeping
// on every process call. Subscribers (OnCall, OnReturn) are told after it.

namespace sehost {

struct TraceEntry;
class StandInHost;

class CallWatcher {
 public:
  // `entry` as the host has just recorded it (result not yet known).
  virtual void CallStarted(const TraceEntry& entry, const StandInHost& host) = 0;
  // `entry` with its result, once the call has returned.
  virtual void CallReturned(const TraceEntry& entry, const StandInHost& host) = 0;

 protected:
  ~CallWatcher() = default;
};

}  // namespace sehost
