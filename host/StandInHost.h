#pragma once
// A stand-in for the host application, for one module instance: it creates
// and drives both halves through their records only, carries the pins the
// halves share, answers the host callback as a real host does, keeps the
// sample clock and the events the audio half posts, and keeps a trace of
// every call across the boundary in both directions. Tests, tools and the
// validator all use it; it can also misbehave on purpose.

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "AudioRecord.h"
#include "GuiRecord.h"
#include "SEEvent.h"
#include "SEExports.h"
#include "SEPinProperties.h"
#include "se_boundary.h"

namespace sehost {

enum class Side : uint8_t { kAudio, kGui, kUnknown };

// Which way a call crossed the boundary, and through which entry.
enum class Entry : uint8_t {
  kDispatcher,  // host → module: the record's dispatcher
  kProcess,     // host → audio half: process_function (index = offset, value = frames)
  kEvent,       // host → audio half: event_function (opcode = event type, index/value = the
                // event's int values, ptr = the event)
  kCallback,    // module → host: seaudioMaster
};

// One call across the boundary, as the caller made it. `result` is filled in
// when the call returns (0 until then, and for calls without an answer).
struct TraceEntry {
  Side side;
  Entry entry;
  const void* record;  // the record the call named (for callbacks: what the module passed)
  int32_t opcode;
  int32_t index;
  int32_t value;
  const void* ptr;
  uint32_t opt_bits;   // `opt` bit for bit
  se_ret_t result;
  int depth;           // 0 for a call the host made at top level; re-entrant calls are deeper

  float opt() const;
  bool IsCallback() const { return entry == Entry::kCallback; }
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
  bool null_text = false;              // GUI_HC_GET_PIN_TEXT answers a null address
  bool wide_count_override = false;
  int32_t wide_count = 0;              // with the override: the first GUI_HC_GET_PIN_TEXT_W answer
  bool wide_text_without_nul = false;  // the second call fills the whole count with text, no NUL
};

class StandInHost {
 public:
  explicit StandInHost(int32_t host_context = 0x5EC0DE);
  ~StandInHost();  // closes the halves that are still open
  StandInHost(const StandInHost&) = delete;
  StandInHost& operator=(const StandInHost&) = delete;

  // The callback handed to the module. It answers for the host that is
  // currently calling into the module on this thread, else for the host that
  // holds the record the module names.
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

  // ---- the audio half ----
  AudioRecord* CreateAudio(SEMakeModule make_module, int32_t index = 0);
  AudioRecord* CreateAudio(const std::function<AudioRecord*(SEHostCallback, int32_t)>& factory);
  AudioRecord* audio() const { return m_audio; }
  se_ret_t AudioDispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                         float opt = 0.0f);
  se_ret_t CloseAudio();
  // Asks OP_GET_PIN_PROPERTIES from index 0 until the first false (at most
  // `limit` pins) and learns the datatypes of the pins it carries.
  std::vector<SEPinProperties> QueryPins(int32_t limit = 256);

  // The audio-side pins: how many the host reports (HC_GET_PIN_COUNT), each
  // with a sample buffer of `frames` floats (HC_GET_PIN_BUFFER).
  void SetAudioPinCount(int32_t count, int32_t frames = 1024);
  std::vector<float>& PinBuffer(int32_t audio_pin) { return m_buffers.at(static_cast<size_t>(audio_pin)); }
  void SetSampleClock(uint32_t clock) { m_clock = clock; }
  uint32_t sample_clock() const { return m_clock; }
  uint32_t block_start() const { return m_block_start; }
  // Answers for audio callbacks without a state of their own (HC_PIN_QUERY,
  // HC_PIN_DATA, HC_CODE_10, …); default 0.
  void SetAudioAnswer(int32_t opcode, se_ret_t answer) { m_audio_answers[opcode] = answer; }

  // Processes `frames` samples as a host does: at each clock it first hands
  // back the events due then, and calls process_function for the runs between
  // events; the clock advances by `frames`.
  void RunBlock(int32_t frames);
  // One call of process_function, without touching the clock.
  void CallProcess(int32_t buffer_offset, int32_t sample_frames);
  // Hands one event to event_function now (the host owns the copy it passes).
  void DeliverEvent(const SEEvent& event);
  // Events posted with HC_ADD_EVENT and not yet handed back, in posting order.
  const std::vector<SEEvent>& PendingEvents() const { return m_events; }

  // ---- the trace ----
  const std::vector<TraceEntry>& Trace() const { return m_trace; }
  std::vector<TraceEntry> Callbacks() const;  // the module → host part, in order
  void ClearTrace() { m_trace.clear(); }
  // Called for each entry as it is made (before a call's result is known).
  void SetTraceListener(std::function<void(const TraceEntry&)> listener) { m_listener = std::move(listener); }
  // Called for each entry when its call has returned, with `result` filled in
  // (0 for process and event calls, which answer nothing). Calls complete in
  // the reverse order of their nesting: a callback before the call it ran in.
  void SetCompletionListener(std::function<void(const TraceEntry&)> listener) {
    m_completion_listener = std::move(listener);
  }

  // ---- scripting the host ----
  // Runs after the host has answered each callback, still inside it: a test can
  // call back into the module from here (re-entrancy).
  void SetCallbackHook(std::function<void(StandInHost&, const TraceEntry&)> hook) { m_hook = std::move(hook); }
  HostFaults& faults() { return m_faults; }
  // Runs `call` as one call of this host into the module, one level deeper:
  // callbacks made during it are answered and traced by this host even for a
  // record it does not hold yet. For module entries that a tool calls itself
  // (through a probe, say) instead of through the operations above.
  void RunAsCall(const std::function<void()>& call);
  // The answer to the GUI's pass-through calls GUI_HC_CODE_8, _18, _19 and _20 (default 0).
  void SetAnswer(int32_t opcode, se_ret_t answer) { m_answers[opcode] = answer; }
  // Callbacks that no host could answer: no call into a module was running
  // and the record was none a host holds.
  static size_t OrphanCallbacks();

 private:
  class CallScope;
  se_ret_t Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  se_ret_t AnswerGui(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  se_ret_t AnswerAudio(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  Side SideOf(const void* record) const;
  // Creation and dispatch shared by both halves; `slot` is the half's record.
  template <class Record>
  Record* CreateHalf(Record*& slot, Side side, int32_t close_opcode,
                     const std::function<Record*(SEHostCallback, int32_t)>& factory);
  template <class Record>
  se_ret_t DispatchHalf(Record*& slot, Side side, int32_t close_opcode, int32_t opcode, int32_t index,
                        int32_t value, void* ptr, float opt);
  PinState& MutablePin(int32_t pin) { return m_pins[pin]; }
  size_t TraceCall(Side side, Entry entry, const void* record, int32_t opcode, int32_t index, int32_t value,
                   const void* ptr, float opt);
  void Complete(size_t at, se_ret_t result);

  int32_t m_host_context;
  GuiRecord* m_gui = nullptr;
  AudioRecord* m_audio = nullptr;
  Side m_creating = Side::kUnknown;  // the half whose construction is running
  int m_depth = 0;                   // calls into the module now running

  std::map<int32_t, PinState> m_pins;
  std::vector<std::vector<float>> m_buffers;
  int32_t m_audio_pin_count = 0;
  uint32_t m_clock = 0;
  uint32_t m_block_start = 0;
  std::vector<SEEvent> m_events;

  std::vector<TraceEntry> m_trace;
  std::function<void(const TraceEntry&)> m_listener;
  std::function<void(const TraceEntry&)> m_completion_listener;
  std::function<void(StandInHost&, const TraceEntry&)> m_hook;
  HostFaults m_faults;
  std::map<int32_t, se_ret_t> m_answers;
  std::map<int32_t, se_ret_t> m_audio_answers;
};

}  // namespace sehost
