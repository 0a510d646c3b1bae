#pragma once
// Base of every audio half. Carries the AudioRecord the host holds, turns the
// host's audio opcodes into virtual operations with do-nothing defaults, owns
// the audio-side pins, and offers the calls into the host: events, the sample
// clock and the choice of process function.

#include <string.h>

#include <type_traits>

#include "AudioRecord.h"
#include "SEAssert.h"
#include "SEEvent.h"
#include "SEPin.h"
#include "SEPinProperties.h"
#include "se_boundary.h"

// The calling convention of process functions: the plain C convention, the
// object as the first argument and the caller removing the arguments, so that
// a process function's own code entry is what the record's process_function
// holds. On 32-bit x86 GCC and MinGW accept it on a non-virtual member function
// (where MinGW would otherwise use thiscall: object in a register, callee
// removing its arguments); elsewhere a member function's code entry already
// takes the object as its first plain argument, and the macro is empty.
#if defined(__i386__) && defined(__GNUC__)
#define SE_PROCESS_CALL __attribute__((cdecl))
#else
#define SE_PROCESS_CALL
#endif

// A process function as m_process_function holds it: a non-virtual member of
// SEModule_base, with the plain C convention, that lets no exception out. Its
// code entry (the first word of the member pointer; the adjustment is 0) is
// callable by the host as SEProcessEntry with the module object first.
typedef void (SE_PROCESS_CALL SEModule_base::*SEProcessMember)(int32_t buffer_offset,
                                                                int32_t sample_frames) noexcept;

// A deferred call of a module member function (ScheduleCall): a plain function
// that calls the member on the object given. It fits an event's ptr_value.
typedef void (*SEDeferredCall)(SEModule_base* module);

class SEModule_base {
 public:
  // Builds the record; makes no host call. `seaudioMaster` may be null: every
  // host call is then skipped and yields 0.
  SEModule_base(SEHostCallback seaudioMaster, int32_t host_context);
  // Destroys the pins from the last to the first. Makes no host call.
  virtual ~SEModule_base();

  // The host holds the record's address, so the object never moves.
  SEModule_base(const SEModule_base&) = delete;
  SEModule_base& operator=(const SEModule_base&) = delete;

  // The address makeModule hands to the host.
  AudioRecord* Record() { return &m_record; }

  // The record's dispatcher and event entries (host → audio half, on the
  // thread the host drives this half on): forward to the virtual Dispatch /
  // HandleEvent. An exception never reaches the host:
  // it ends the call (a dispatcher call then answers 0). An OP_CLOSE that
  // arrives while the half is inside another of its calls (these two entries
  // and the process functions of ProcessFunction) answers 1 at once, but the
  // object is destroyed only when the outermost call into it returns.
  static se_ret_t StaticDispatch(AudioRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt);
  static void StaticHandleEvent(SEModule_base* module, SEEvent* event);  // the record's event_function
  // The event entry of a half of class D (its dynamic type) that keeps the
  // framework's HandleEvent: the same guard and hold, and the framework's
  // routing run in place, which is where the virtual call would lead; a
  // status event calls D's own OnPinStatusChange directly where D lets the
  // framework name it (a public one), as the virtual call would resolve.
  template <class D>
  static void StaticRouteEvent(SEModule_base* module, SEEvent* event);
  // Called by the factory that made the half, with its own class D (the
  // object's dynamic type): where D overrides no HandleEvent, the record's
  // event_function becomes StaticRouteEvent<D>, saving calls on every event.
  template <class D>
  void ChooseEventEntry();

  // Makes the process function that runs member function F of a module class
  // D (taking the run's offset and frame count), for SetProcessFunction:
  // `SetProcessFunction(ProcessFunction<&Module::Process>())`. F may be any
  // member function, virtual ones included, and may throw: the process
  // function is RunProcess<F>, a member of this class with the plain C
  // convention, declared noexcept, that calls F on the object and catches
  // whatever F throws, so an exception ends the run and never unwinds into
  // the host. The same F always gives the same process function.
  template <auto F>
  static SEProcessMember ProcessFunction();
  // The code entry of a process function: what the record's process_function
  // holds while `f` is the current one.
  static SEProcessEntry CodeEntry(SEProcessMember f);
  // Makes a deferred call of the member function F (no arguments) of a module
  // class D, for ScheduleCall. A virtual F runs the object's own override.
  template <auto F>
  static SEDeferredCall MemberCall();

  // host → audio half. The order of these virtuals is part of the framework.
  virtual void OnPinStatusChange(SEPin* pin);  // a pin received a status event; default: nothing
  virtual void HandleEvent(SEEvent* e);  // one due event (event_function); default: the framework's routing
  // One opcode of SE_AUDIO_OPCODES (the record's dispatcher); answers as the table says.
  virtual se_ret_t Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  virtual void Open();       // OP_OPEN; default: binds the pins (an override calls it last)
  virtual void Close();      // OP_CLOSE, before the object is destroyed (even when it throws); default: nothing
  virtual void ReservedA();  // never called by the framework
  virtual void SetSampleRate(float rate);   // OP_SET_SAMPLE_RATE; default: stores it as it comes
  virtual void SetBlockSize(int32_t size);  // OP_SET_BLOCK_SIZE; default: stores it as it comes
  virtual float SampleRate();   // the stored sample rate, 44100 until the host sets one
  virtual int32_t BlockSize();  // the stored block size, 1024 until the host sets one
  // Fills `properties` for declared pin `index` (GUI-only pins included) and
  // answers true, or answers false when there is no such pin.
  virtual bool GetPinProperties(int32_t index, SEPinProperties* properties);
  virtual int32_t ReservedB();  // never called by the framework; answers 0
  virtual int32_t ReservedC();  // never called by the framework; answers 0
  virtual void OnNotify();                   // OP_NOTIFY; default: nothing
  virtual void OnNotifyCount(int32_t count);  // OP_NOTIFY with index > 0, after OnNotify; default: nothing
  // An EVT_TIMED_MESSAGE: its time stamp, int_value1, and the low 16 bits of
  // int_value2 as a signed number; default: nothing.
  virtual void OnTimedMessage(uint32_t clock, int32_t value, int16_t extra);
  virtual void OnHostCommand(int32_t value, int32_t index, void* ptr);  // OP_COMMAND; default: nothing

  // audio half → host. Without a callback: no call, answer 0.
  se_ret_t CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);  // seaudioMaster
  // HC_GET_SAMPLE_CLOCK, by CallHost's rule. Inline: an event's clock check
  // is then the host call alone.
  uint32_t SampleClock() {
    return seaudioMaster ? static_cast<uint32_t>(seaudioMaster(&m_record, HC_GET_SAMPLE_CLOCK, 0, 0, nullptr, 0.0f)) : 0;
  }

  // Pins.
  bool QueryPinProperties(int32_t index, SEPinProperties* properties);  // clears, then asks
  // Pin `index` of the audio-side pins. Requires pins ("m_pins != 0"). Debug
  // builds also require 0 <= index < PinCount() and report the index and the
  // count; release builds leave the index to the caller.
  SEPin* GetPin(int32_t index);
  // The pins Open bound: GetPin(0 … PinCount() - 1) have an owner; 0 before Open.
  int32_t PinCount() const { return m_pin_count; }

  // Events and process functions.
  // Posts an event to the host (HC_ADD_EVENT), due at `p_time_stamp`, which
  // must not be before the current clock; nothing without a callback.
  void AddEvent(uint32_t p_time_stamp, int32_t event_type, int32_t int_value1, int32_t int_value2,
                intptr_t ptr_value);
  void ScheduleCall(uint32_t time_stamp, SEDeferredCall call);  // AddEvent of an EVT_RUN_FUNCTION
  // Makes `f` the current process function, mirrors its code entry in the
  // record, then tells the host; nothing when `f` is already current.
  void SetProcessFunction(SEProcessMember f);
  SEProcessMember GetProcessFunction() const { return m_process_function; }  // the current one
  // The default process function; does nothing.
  void SE_PROCESS_CALL IdleProcess(int32_t buffer_offset, int32_t sample_frames) noexcept;

 protected:
  SEHostCallback seaudioMaster;  // the host callback, or null
  AudioRecord m_record;          // the record the host holds; at a fixed place for the object's life
  float m_sample_rate;           // SetSampleRate's value
  int32_t m_block_size;          // SetBlockSize's value
  SEPin* m_pins;                        // one array allocation, or null before Open
  SEProcessMember m_process_function;   // code entry and adjustment: 8 bytes on 32-bit targets
  int32_t m_pin_count;                  // pins bound by Open: m_pins[0 .. m_pin_count) have an owner

 private:
  // Bracket every call from the host into this object. Leaving the
  // outermost call of a closed half destroys it: a half closed from inside
  // one of its own calls must not go on in freed memory.
  void EnterCall() { ++m_holds; }
  void LeaveCall() {
    if (--m_holds == 0) Release(this);
  }
  // OP_CLOSE: runs Close once and gives up the host's hold, which destroys
  // the object unless a call into it is still running. Out of line, so the
  // other opcodes pay nothing for it.
  [[gnu::noinline]] void CloseAndRelease();
  [[gnu::noinline]] static void Release(SEModule_base* half);  // destroys a half without holds

  // Holds on the object: one for the host until OP_CLOSE, one for each call
  // into it now running. The object is destroyed when the last hold goes.
  int32_t m_holds = 1;
  bool m_closed = false;  // OP_CLOSE has been answered

  template <auto F>
  void SE_PROCESS_CALL RunProcess(int32_t buffer_offset, int32_t sample_frames) noexcept;

  // HandleEvent's routing, with the status handler of class D (virtual for
  // SEModule_base itself). The types other than EVT_PIN_STATUS go on in
  // RouteOtherEvent, out of line: control changes need none of them.
  template <class D>
  void RouteEvent(SEEvent* e);
  void RouteOtherEvent(SEEvent* e);
};

#if SE_RECORDS_ARE_32BIT
static_assert(sizeof(SEProcessMember) == 8, "a member-function pointer is a code entry and an adjustment");
#endif

inline SEProcessEntry SEModule_base::CodeEntry(SEProcessMember f) {
  // A member-function pointer is a code entry followed by an object
  // adjustment; for a non-virtual member the entry is the function's address.
  SEProcessEntry entry;
  memcpy(&entry, &f, sizeof entry);
  return entry;
}

inline void SEPin::SetStatusFromEvent(int32_t status) {
  m_status = status;
  m_module->OnPinStatusChange(this);
  if (status == 1) m_status = 0;
}

inline SEPin* SEModule_base::GetPin(int32_t index) {
  SE_ASSERT(m_pins != 0, "..\\se_sdk2\\SEModule_base");
#if SE_DEBUG_CHECKS
  if (index < 0 || index >= m_pin_count) {
    ::se::IndexFailed("index >= 0 && index < PinCount()", index, m_pin_count, "..\\se_sdk2\\SEModule_base", __LINE__);
  }
#endif
  return &m_pins[index];
}

template <auto F>
SEProcessMember SEModule_base::ProcessFunction() {
  if constexpr (std::is_same_v<decltype(F), SEProcessMember>) {
    return F;  // already a process function of this class (IdleProcess)
  } else {
    return &SEModule_base::RunProcess<F>;
  }
}

template <auto F>
void SEModule_base::RunProcess(int32_t buffer_offset, int32_t sample_frames) noexcept {
  using Member = void (SEModule_base::*)(int32_t, int32_t);
  EnterCall();
  try {
    (this->*static_cast<Member>(F))(buffer_offset, sample_frames);
  } catch (...) {
    // The run is over; the exception goes no further.
  }
  LeaveCall();
}

namespace se_detail {
// Whether SEModule_base may name D's OnPinStatusChange (a public one).
template <class D, class = void>
struct NamesStatusHandler : std::false_type {};
template <class D>
struct NamesStatusHandler<D, std::void_t<decltype(std::declval<D&>().D::OnPinStatusChange(nullptr))>>
    : std::true_type {};
}  // namespace se_detail

template <class D>
void SEModule_base::RouteEvent(SEEvent* e) {
  const uint32_t clock = SampleClock();  // asked first: the event is read after the host call
  SE_ASSERT_TEXT(e->time_stamp == clock, "e->time_stamp == SampleClock()", "..\\se_sdk2\\SEModule_base");
  if (e->event_type != EVT_PIN_STATUS) return RouteOtherEvent(e);
  // One unsigned comparison finds a bound pin (m_pin_count is never
  // negative, and bound pins mean m_pins exists). Otherwise a module without
  // pins is a contract violation (GetPin's), and an index that names no bound
  // pin is the host's mistake and is ignored.
  const uintptr_t index = static_cast<uintptr_t>(e->ptr_value);
  if (index >= static_cast<uintptr_t>(m_pin_count)) {
    SE_ASSERT(m_pins != 0, "..\\se_sdk2\\SEModule_base");
    return;
  }
  // SEPin::SetStatusFromEvent, with this half as the pin's owner.
  SEPin& pin = m_pins[index];
  const int32_t status = e->int_value1;
  pin.m_status = status;
  if constexpr (!std::is_same_v<D, SEModule_base> && se_detail::NamesStatusHandler<D>::value) {
    static_cast<D*>(this)->D::OnPinStatusChange(&pin);
  } else {
    OnPinStatusChange(&pin);
  }
  if (status == 1) pin.m_status = 0;
}

template <class D>
void SEModule_base::StaticRouteEvent(SEModule_base* module, SEEvent* event) {
  if (!event) return;  // nothing to handle
  module->EnterCall();
  try {
    module->RouteEvent<D>(event);
  } catch (...) {
    // As StaticHandleEvent: the event is simply handled.
  }
  module->LeaveCall();
}

template <class D>
void SEModule_base::ChooseEventEntry() {
  static_assert(std::is_base_of_v<SEModule_base, D>, "an audio half's own class");
  if constexpr (std::is_same_v<decltype(&D::HandleEvent), void (SEModule_base::*)(SEEvent*)>) {
    m_record.event_function = &SEModule_base::StaticRouteEvent<D>;
  }
}

template <auto F>
SEDeferredCall SEModule_base::MemberCall() {
  return [](SEModule_base* module) {
    using Member = void (SEModule_base::*)();
    (module->*static_cast<Member>(F))();
  };
}
