#pragma once
// A stand-in for the host application, for one module instance: it creates
// and drives both halves through their records only, carries the pins the
// halves share, answers the host callback as a real host does, and keeps a
// trace of every call across the boundary in both directions. The audio
// side's pins, sample clock and events live in its AudioSchedule, which
// answers those callbacks. Tests, tools and the validator all use it; a
// caller may override any callback's answer (OverrideAnswer).
//
// It is the host side of a proxy: every call a caller makes through it is
// checked against the state of the half it names. A call to a half that is
// not there (never made, refused by makeModule, or closed) is refused: it
// answers 0 without reaching the module, and the host keeps a message saying
// what was refused and why (refused_calls, last_refusal). The host never
// throws: a refused call may come from inside a module's call, where an
// exception must not unwind. Closing a half that is not there is no refusal:
// it answers 0, so a host may close whatever is open.

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "AudioRecord.h"
#include "AudioSchedule.h"
#include "CallWatcher.h"
#include "GuiRecord.h"
#include "SEEvent.h"
#include "SEExports.h"
#include "Observers.h"
#include "SEPinProperties.h"
#include "Subscription.h"
#include "se_boundary.h"

namespace sehost {

enum class Side : uint8_t { kAudio, kGui, kUnknown };

// Where a half is in its life, as the host's own calls made it.
enum class HalfState : uint8_t {
  kNone,     // never made
  kRefused,  // makeModule answered null at the last attempt
  kMade,     // made, not opened
  kOpened,   // OP_OPEN or GUI_OP_OPEN sent
  kClosed,   // the close opcode sent; the record is gone
};
const char* HalfStateName(HalfState state);

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

// A caller's answer to one callback in place of the host's (OverrideAnswer).
struct CallbackAnswer {
  bool given = false;  // some subscriber answered: the host's own answer is skipped
  se_ret_t value = 0;  // the answer the module gets when `given`
  void Give(se_ret_t answer) {
    given = true;
    value = answer;
  }
};

class StandInHost final : public AudioHalfCalls {
 public:
  explicit StandInHost(int32_t host_context = 0x5EC0DE);
  ~StandInHost();  // closes the halves that are still open
  StandInHost(const StandInHost&) = delete;
  StandInHost& operator=(const StandInHost&) = delete;

  // The callback handed to the module. It answers for the host that is
  // currently calling into the module on this thread, else for the host that
  // holds the record the module names. A callback neither of them can answer
  // is an orphan: answered 0, reported on stderr and counted by the host that
  // called into a module last (the one whose module can hold the callback).
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
  HalfState gui_state() const { return m_gui_state; }
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
  HalfState audio_state() const { return m_audio_state; }
  se_ret_t AudioDispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr,
                         float opt = 0.0f);
  se_ret_t CloseAudio();
  // Asks OP_GET_PIN_PROPERTIES from index 0 until the first false (at most
  // `limit` pins) and learns the datatypes of the pins it carries.
  std::vector<SEPinProperties> QueryPins(int32_t limit = 256);

  // The audio side's pins and buffers, sample clock and events, and block
  // processing; the host answers those callbacks from it.
  AudioSchedule& schedule() { return m_schedule; }
  const AudioSchedule& schedule() const { return m_schedule; }
  // Answers for audio callbacks without a state of their own (HC_PIN_QUERY,
  // HC_PIN_DATA, HC_CODE_10, …); default 0.
  void SetAudioAnswer(int32_t opcode, se_ret_t answer) { m_audio_answers[opcode] = answer; }
  // The answer to the GUI's pass-through opcodes 8, 18, 19 and 20 (default 0).
  void SetGuiAnswer(int32_t opcode, se_ret_t answer) { m_gui_answers[opcode] = answer; }

  // Whether the audio half is there (made and not closed).
  bool HasAudioHalf() const override { return m_audio != nullptr; }
  // One call of process_function, without touching the clock.
  void CallProcess(int32_t buffer_offset, int32_t sample_frames) override;
  // Hands one event to event_function now (the host owns the copy it passes).
  void DeliverEvent(const SEEvent& event) override;
  // Keeps room for `calls` trace entries, so recording a call allocates
  // nothing until the trace holds that many (ClearTrace keeps the room).
  void ReserveTrace(size_t calls) { m_trace.reserve(calls); }
  // Entries the trace holds before it next grows (one allocation of the host's).
  size_t trace_capacity() const { return m_trace.capacity(); }
  // Whether process calls can go without a trace entry each
  // (QuietProcessRun): the audio half is there, nothing subscribes to the
  // host's calls and its watcher, if any, takes quiet runs.
  bool CanRunQuietly() const;

  // ---- the trace ----
  const std::vector<TraceEntry>& Trace() const { return m_trace; }
  std::vector<TraceEntry> Callbacks() const;  // the module → host part, in order
  void ClearTrace() { m_trace.clear(); }
  // The watcher told of every entry before any subscriber (null: none); it
  // must outlive the host or be replaced first.
  void SetWatcher(CallWatcher* watcher) { m_watcher = watcher; }
  // Each subscriber is called for each entry as it is made (before a call's
  // result is known), until its subscription ends.
  [[nodiscard]] Subscription OnCall(std::function<void(const TraceEntry&)> listener) {
    return m_on_call.Subscribe(std::move(listener));
  }
  // Each subscriber is called for each entry when its call has returned, with
  // `result` filled in (0 for process and event calls, which answer nothing).
  // Calls complete in the reverse order of their nesting: a callback before
  // the call it ran in.
  [[nodiscard]] Subscription OnReturn(std::function<void(const TraceEntry&)> listener) {
    return m_on_return.Subscribe(std::move(listener));
  }

  // ---- scripting the host ----
  // Each subscriber runs after the host has answered each callback, still
  // inside it: a test can call back into the module from here (re-entrancy).
  [[nodiscard]] Subscription OnCallback(std::function<void(StandInHost&, const TraceEntry&)> hook) {
    return m_on_callback.Subscribe(std::move(hook));
  }
  // Each subscriber may answer a callback in the host's place: it runs after
  // the callback is traced and before the host answers, with the module's
  // `ptr` (writable as the opcode allows) and the answer so far, which it may
  // Give (a later subscriber's answer replaces an earlier one). When one was
  // given, the host's own answer, with whatever it would write or keep, is
  // skipped. Tests use it to play a host that misbehaves.
  [[nodiscard]] Subscription OverrideAnswer(
      std::function<void(const TraceEntry& call, void* ptr, CallbackAnswer& answer)> hook) {
    return m_overrides.Subscribe(std::move(hook));
  }
  // Runs `call` as one call of this host into the module, one level deeper:
  // callbacks made during it are answered and traced by this host even for a
  // record it does not hold yet. For module entries that a tool calls itself
  // (through a probe, say) instead of through the operations above.
  void RunAsCall(const std::function<void()>& call);
  // Orphan callbacks charged to this host (see seaudioMaster).
  size_t orphan_callbacks() const { return m_orphan_callbacks; }
  // Calls of this host's API refused because the half they name is not there.
  size_t refused_calls() const { return m_refused_calls; }
  // What the last refused call was and why; "" when none was refused.
  const std::string& last_refusal() const { return m_last_refusal; }

 private:
  friend class QuietProcessRun;
  class CallScope;
  // A call into the module begins: this host answers its callbacks, one
  // level deeper. Answers the host that was answering before, for LeaveCall.
  StandInHost* EnterCall();
  void LeaveCall(StandInHost* previous);
  se_ret_t Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  se_ret_t AnswerGui(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  se_ret_t AnswerAudio(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  Side SideOf(const void* record) const;
  // What differs between the halves for creation, dispatch and state.
  struct HalfCodes {
    Side side;
    const char* name;
    int32_t open_opcode;
    int32_t close_opcode;
  };
  static constexpr HalfCodes kGuiHalf{Side::kGui, "GUI", GUI_OP_OPEN, GUI_OP_CLOSE};
  static constexpr HalfCodes kAudioHalf{Side::kAudio, "audio", OP_OPEN, OP_CLOSE};
  // Creation and dispatch shared by both halves; `slot` is the half's record.
  template <class Record>
  Record* CreateHalf(Record*& slot, HalfState& state, const HalfCodes& codes,
                     const std::function<Record*(SEHostCallback, int32_t)>& factory);
  template <class Record>
  se_ret_t DispatchHalf(Record*& slot, HalfState& state, const HalfCodes& codes, int32_t opcode, int32_t index,
                        int32_t value, void* ptr, float opt);
  // Keeps why a call was refused; `call` names it, `half` the half it needed.
  void Refuse(const std::string& call, const char* half, HalfState state);
  PinState& MutablePin(int32_t pin) { return m_pins[pin]; }
  size_t TraceCall(Side side, Entry entry, const void* record, int32_t opcode, int32_t index, int32_t value,
                   const void* ptr, float opt);
  void Complete(size_t at, se_ret_t result);

  int32_t m_host_context;
  GuiRecord* m_gui = nullptr;
  AudioRecord* m_audio = nullptr;
  HalfState m_gui_state = HalfState::kNone;
  HalfState m_audio_state = HalfState::kNone;
  Side m_creating = Side::kUnknown;  // the half whose construction is running
  int m_depth = 0;                   // calls into the module now running

  std::map<int32_t, PinState> m_pins;
  AudioSchedule m_schedule{*this};

  std::vector<TraceEntry> m_trace;
  CallWatcher* m_watcher = nullptr;
  Observers<const TraceEntry&> m_on_call;
  Observers<const TraceEntry&> m_on_return;
  Observers<StandInHost&, const TraceEntry&> m_on_callback;
  Observers<const TraceEntry&, void*, CallbackAnswer&> m_overrides;
  std::map<int32_t, se_ret_t> m_gui_answers;
  std::map<int32_t, se_ret_t> m_audio_answers;
  size_t m_orphan_callbacks = 0;
  size_t m_refused_calls = 0;
  std::string m_last_refusal;
};

}  // namespace sehost
