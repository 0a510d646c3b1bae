#pragma once
// A stand-in for the host application, for one module instance: it creates
// and drives both halves through their records only, carries the pins the
// halves share, answers the host callback as a real host does, and keeps a
// trace of every call across the boundary in both directions. Tests, tools and
// the validator all use it; it can also misbehave on purpose.

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "GuiRecord.h"
#include "se_boundary.h"

namespace sehost {

// Which way a call crossed the boundary.
enum class Direction : uint8_t { kHostToGui, kGuiToHost };

// One call across the boundary, as the caller made it. `result` is filled in
// when the call returns (0 until then, and for calls without an answer).
struct TraceEntry {
  Direction direction;
  const void* record;  // the record the call named (for callbacks: what the module passed)
  int32_t opcode;
  int32_t index;
  int32_t value;
  const void* ptr;
  uint32_t opt_bits;   // `opt` bit for bit
  se_ret_t result;

  float opt() const;
  bool IsCallback() const { return direction == Direction::kGuiToHost; }
};

// What the host keeps for one pin.
struct PinState {
  uint32_t bits = 0;         // the 4-byte value, whatever its type
  std::string text;          // 8-bit text
  std::u16string wide_text;  // 16-bit text
  int32_t datatype = -1;     // the pin's datatype code when known, else -1
};

// Deliberately wrong answers, for testing how a module copes with a bad host.
struct HostFaults {
  bool null_text = false;          // GUI_HC_GET_PIN_TEXT answers a null address
  bool wide_count_override = false;
  int32_t wide_count = 0;          // with the override: the first GUI_HC_GET_PIN_TEXT_W answer
  bool wide_text_without_nul = false;  // the second call fills the whole count with text, no NUL
};

// The signature of a library's exported makeModule.
typedef void* (*SEMakeModule)(int32_t index, int32_t type, SEHostCallback seaudioMaster, int32_t host_context);

class StandInHost {
 public:
  explicit StandInHost(int32_t host_context = 0x5EC0DE);
  ~StandInHost();  // closes a half that is still open
  StandInHost(const StandInHost&) = delete;
  StandInHost& operator=(const StandInHost&) = delete;

  // The callback handed to the module. It answers for the host that is
  // currently calling into the module on this thread.
  static se_ret_t seaudioMaster(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  int32_t host_context() const { return m_host_context; }

  // ---- pins the host carries ----
  void SetPinInt(int32_t pin, int32_t value);
  void SetPinFloat(int32_t pin, float value);
  void SetPinBits(int32_t pin, uint32_t bits);
  void SetPinText(int32_t pin, const std::string& text);
  void SetPinTextW(int32_t pin, const std::u16string& text);
  void SetPinDatatype(int32_t pin, int32_t datatype);
  int32_t PinInt(int32_t pin) const;
  float PinFloat(int32_t pin) const;
  uint32_t PinBits(int32_t pin) const;
  const PinState& Pin(int32_t pin) const;

  // ---- the GUI half ----
  // Creates the GUI half with a library's makeModule (type 2); null when the
  // module refused. The host's callback answers during the construction.
  GuiRecord* CreateGui(SEMakeModule make_module, int32_t index = 0);
  // Creates the GUI half with any factory, for instance `new GuiModule(cb, ctx)`.
  GuiRecord* CreateGui(const std::function<GuiRecord*(SEHostCallback, int32_t)>& factory);
  GuiRecord* gui() const { return m_gui; }
  // Sends one opcode through the GUI record's dispatcher.
  se_ret_t GuiDispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                       float opt = 0.0f);
  // What a host does when the user changes a pin: GUI_OP_PIN_VALUE_CHANGE.
  void NotifyGui(int32_t pin) { GuiDispatch(GUI_OP_PIN_VALUE_CHANGE, pin); }
  // GUI_OP_CLOSE; forgets the record. Answers what the module answered.
  se_ret_t CloseGui();

  // ---- the trace ----
  const std::vector<TraceEntry>& Trace() const { return m_trace; }
  std::vector<TraceEntry> Callbacks() const;  // the module → host part, in order
  void ClearTrace() { m_trace.clear(); }

  // ---- scripting the host ----
  // Runs after the host has answered each callback, still inside it: a test can
  // call back into the module from here (re-entrancy).
  void SetCallbackHook(std::function<void(StandInHost&, const TraceEntry&)> hook) { m_hook = std::move(hook); }
  HostFaults& faults() { return m_faults; }
  // The answer to the GUI's pass-through opcodes 8, 18, 19 and 20 (default 0).
  void SetAnswer(int32_t opcode, se_ret_t answer) { m_answers[opcode] = answer; }
  // Callbacks that arrived while no host was calling into a module.
  static size_t OrphanCallbacks();

 private:
  class ActiveScope;
  se_ret_t Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  se_ret_t AnswerGui(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  PinState& MutablePin(int32_t pin) { return m_pins[pin]; }
  size_t TraceCall(Direction direction, const void* record, int32_t opcode, int32_t index, int32_t value,
                   const void* ptr, float opt);

  int32_t m_host_context;
  GuiRecord* m_gui = nullptr;
  std::map<int32_t, PinState> m_pins;
  std::vector<TraceEntry> m_trace;
  std::function<void(StandInHost&, const TraceEntry&)> m_hook;
  HostFaults m_faults;
  std::map<int32_t, se_ret_t> m_answers;
};

}  // namespace sehost
