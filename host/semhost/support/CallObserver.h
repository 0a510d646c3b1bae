#pragma once
// Something that follows every call across the boundary of a session: the
// host's traced calls as they start and return, and the library calls
// (getModuleProperties, makeModule) that the host does not trace.

#include <string>

#include "StandInHost.h"

namespace semhost {

class CallObserver {
 public:
  virtual ~CallObserver() = default;
  virtual void CallStarted(const sehost::TraceEntry& entry, const sehost::StandInHost& host) = 0;
  virtual void CallReturned(const sehost::TraceEntry& entry, const sehost::StandInHost& host) = 0;
  // `call` reads like "makeModule index=0 type=2"; `answer` like "gui" or "1".
  virtual void LibraryCallStarted(const std::string& call) = 0;
  virtual void LibraryCallReturned(const std::string& answer) = 0;

  // Following one host: while it lives, the observer sees every call.
  struct Observation {
    sehost::Subscription started;
    sehost::Subscription returned;
  };
  // Follows every call `host` makes and answers, beside the host's other
  // subscribers, until the observation ends. The observer must outlive it.
  [[nodiscard]] Observation Observe(sehost::StandInHost& host) {
    const sehost::StandInHost* watched = &host;
    return {host.OnCall([this, watched](const sehost::TraceEntry& e) { CallStarted(e, *watched); }),
            host.OnReturn([this, watched](const sehost::TraceEntry& e) { CallReturned(e, *watched); })};
  }
};

}  // namespace semhost
