#pragma once
// Base of every audio half. Carries the AudioRecord the host holds, turns the
// host's audio opcodes into virtual operations with do-nothing defaults, owns
// the audio-side pins, and offers the calls into the host: events, the sample
// clock and the choice of process function.

#include "AudioRecord.h"
#include "SEEvent.h"
#include "SEPin.h"
#include "SEPinProperties.h"
#include "se_boundary.h"

// A process function: a member function of the module taking the run's offset
// and frame count (which it may ignore).
typedef void (SEModule_base::*SEProcessMember)(int32_t buffer_offset, int32_t sample_frames);

// A process function as the framework stores it: the member function, and the
// plain entry that calls it on an object, which is what the record carries.
struct SEProcessFunction {
  SEProcessMember member;
  SEProcessEntry entry;
};

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
  // it ends the call (a dispatcher call then answers 0).
  static se_ret_t StaticDispatch(AudioRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt);
  static void StaticHandleEvent(SEModule_base* module, SEEvent* event);

  // Makes a process function of member function F of a module class D, for
  // SetProcessFunction: `SetProcessFunction(ProcessFunction<&Module::Process>())`.
  template <auto F>
  static SEProcessFunction ProcessFunction();
  // Makes a deferred call of the member function F (no arguments) of a module
  // class D, for ScheduleCall. A virtual F runs the object's own override.
  template <auto F>
  static SEDeferredCall MemberCall();

  // host → audio half. The order of these virtuals is part of the framework.
  virtual void OnPinStatusChange(SEPin* pin);
  virtual void HandleEvent(SEEvent* e);
  virtual se_ret_t Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  virtual void Open();
  virtual void Close();
  virtual void ReservedA();
  virtual void SetSampleRate(float rate);
  virtual void SetBlockSize(int32_t size);
  virtual float SampleRate();
  virtual int32_t BlockSize();
  // Fills `properties` for declared pin `index` (GUI-only pins included) and
  // answers true, or answers false when there is no such pin.
  virtual bool GetPinProperties(int32_t index, SEPinProperties* properties);
  virtual int32_t ReservedB();
  virtual int32_t ReservedC();
  virtual void OnNotify();
  virtual void OnNotifyCount(int32_t count);
  virtual void OnTimedMessage(uint32_t clock, int32_t value, int16_t extra);
  virtual void OnHostCommand(int32_t value, int32_t index, void* ptr);

  // audio half → host. Without a callback: no call, answer 0.
  se_ret_t CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  uint32_t SampleClock();  // HC_GET_SAMPLE_CLOCK

  // Pins.
  bool QueryPinProperties(int32_t index, SEPinProperties* properties);  // clears, then asks
  SEPin* GetPin(int32_t index);  // requires pins ("m_pins != 0"); the index is the caller's to keep in range

  // Events and process functions.
  void AddEvent(uint32_t p_time_stamp, int32_t event_type, int32_t int_value1, int32_t int_value2,
                intptr_t ptr_value);
  void ScheduleCall(uint32_t time_stamp, SEDeferredCall call);
  void SetProcessFunction(SEProcessFunction f);
  SEProcessMember GetProcessFunction() const { return m_process_function; }
  void IdleProcess(int32_t buffer_offset, int32_t sample_frames);

 protected:
  SEHostCallback seaudioMaster;
  AudioRecord m_record;
  float m_sample_rate;
  int32_t m_block_size;
  SEPin* m_pins;                        // one array allocation, or null before Open
  SEProcessMember m_process_function;   // code entry and adjustment: 8 bytes on 32-bit targets
};

#if SE_RECORDS_ARE_32BIT
static_assert(sizeof(SEProcessMember) == 8, "a member-function pointer is a code entry and an adjustment");
#endif

template <auto F>
SEProcessFunction SEModule_base::ProcessFunction() {
  SEProcessEntry entry = [](SEModule_base* module, int32_t buffer_offset, int32_t sample_frames) {
    try {
      (module->*static_cast<SEProcessMember>(F))(buffer_offset, sample_frames);
    } catch (...) {
      // An exception must not cross into the host; the run is simply over.
    }
  };
  return SEProcessFunction{static_cast<SEProcessMember>(F), entry};
}

template <auto F>
SEDeferredCall SEModule_base::MemberCall() {
  return [](SEModule_base* module) {
    using Member = void (SEModule_base::*)();
    (module->*static_cast<Member>(F))();
  };
}
