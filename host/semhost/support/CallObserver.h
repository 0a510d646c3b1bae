#pragma once
// Something that follows every call across the boundary of a session: the
// host's traced calls as they start and return, and the library calls
// (getModuleProperties, makeModule) that the host does not trace.

#include <string>

#include "StandInHost.h"

namespace semhost {

// The traced calls come as a host's watcher's do (CallStarted, CallReturned).
class CallObserver : public sehost::CallWatcher {
 public:
  virtual ~CallObserver() = default;
  // `call` reads like "makeModule index=0 type=2"; `answer` like "gui" or "1".
  virtual void LibraryCallStarted(const std::string& call) = 0;
  virtual void LibraryCallReturned(const std::string& answer) = 0;

  // Following one host: while it lives, the observer sees every call.
  struct Observation {
    sehost::Subscription started;
    sehost::Subscription returned;
  };
  // Follows every call `host` makes and answers, as one of its subscribers,
  // until the observation ends. The observer must outlive it. (A session
  // makes its observer the host's watcher instead: called directly.)
  [[nodiscard]] Observation Observe(sehost::StandInHost& host) {
    const sehost::StandInHost* watched = &host;
    return {host.OnCall([this, watched](const sehost::TraceEntry& e) { CallStarted(e, *watched); }),
            host.OnReturn([this, watched](const sehost::TraceEntry& e) { CallReturned(e, *watched); })};
  }
};

}  // namespace semhost

namespace semhost {

// Two observers in turn, the first first; either may be null.
class CallObserverPair : public CallObserver {
 public:
  CallObserverPair(CallObserver* first, CallObserver* second) : m_first(first), m_second(second) {}
  void CallStarted(const sehost::TraceEntry& e, const sehost::StandInHost& h) override {
    if (m_first) m_first->CallStarted(e, h);
    if (m_second) m_second->CallStarted(e, h);
  }
  void CallReturned(const sehost::TraceEntry& e, const sehost::StandInHost& h) override {
    if (m_first) m_first->CallReturned(e, h);
    if (m_second) m_second->CallReturned(e, h);
  }
  void LibraryCallStarted(const std::string& call) override {
    if (m_first) m_first->LibraryCallStarted(call);
    if (m_second) m_second->LibraryCallStarted(call);
  }
  void LibraryCallReturned(const std::string& answer) override {
    if (m_first) m_first->LibraryCallReturned(answer);
    if (m_second) m_second->LibraryCallReturned(answer);
  }

 private:
  CallObserver* m_first;
  CallObserver* m_second;
};

}  // namespace semhost
