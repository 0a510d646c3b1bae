#pragma once
// An audio-side module for tests: declares whatever pins a test gives it and
// records every virtual operation the framework calls.

#include <string>
#include <vector>

#include "SEModule_base.h"

struct ProbeCall {
  std::string name;
  int64_t a = 0;
  int64_t b = 0;
  const void* ptr = nullptr;
};

class ProbeModule : public SEModule_base {
 public:
  ProbeModule(SEHostCallback cb, int32_t ctx, std::vector<ProbeCall>* log, std::vector<SEPinProperties> pins = {})
      : SEModule_base(cb, ctx), m_log(log), m_declared(std::move(pins)) {}
  ~ProbeModule() override { m_log->push_back({"~ProbeModule"}); }

  void OnPinStatusChange(SEPin* pin) override { m_log->push_back({"OnPinStatusChange", pin->Index(), pin->Status()}); }
  void Close() override { m_log->push_back({"Close"}); }
  bool GetPinProperties(int32_t index, SEPinProperties* p) override {
    m_log->push_back({"GetPinProperties", index});
    if (index < 0 || static_cast<size_t>(index) >= m_declared.size()) return false;
    *p = m_declared[static_cast<size_t>(index)];
    return true;
  }
  void OnNotify() override { m_log->push_back({"OnNotify"}); }
  void OnNotifyCount(int32_t count) override { m_log->push_back({"OnNotifyCount", count}); }
  void OnTimedMessage(uint32_t clock, int32_t value, int16_t extra) override {
    m_log->push_back({"OnTimedMessage", clock, value});
    m_extra = extra;
  }
  void OnHostCommand(int32_t value, int32_t index, void* ptr) override {
    m_log->push_back({"OnHostCommand", value, index, ptr});
  }

  // Process functions and deferred calls.
  void Work(int32_t offset, int32_t frames) { m_log->push_back({"Work", offset, frames}); }
  void Other(int32_t offset, int32_t frames) { m_log->push_back({"Other", offset, frames}); }
  void Plain() { m_log->push_back({"ProbeModule::Plain"}); }
  virtual void Overridden() { m_log->push_back({"ProbeModule::Overridden"}); }

  using SEModule_base::m_pins;
  using SEModule_base::m_process_function;
  int16_t m_extra = 0;

 protected:
  std::vector<ProbeCall>* m_log;
  std::vector<SEPinProperties> m_declared;
};

// Overrides the virtual deferred call, to show the object's own class decides.
class DerivedProbe : public ProbeModule {
 public:
  using ProbeModule::ProbeModule;
  void Overridden() override { m_log->push_back({"DerivedProbe::Overridden"}); }
};

// A pin description with the given fields and everything else zero.
inline SEPinProperties PinDecl(int32_t direction, int32_t datatype, int32_t flags, void* variable = nullptr) {
  SEPinProperties p{};
  p.direction = direction;
  p.datatype = datatype;
  p.flags = flags;
  p.variable_address = variable;
  return p;
}
