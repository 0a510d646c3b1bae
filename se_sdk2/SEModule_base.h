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
  SEProcessMember member;  // the member function
  SEProcessEntry entry;     // the plain entry that calls it, for the record
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
  static void StaticHandleEvent(SEModule_base* module, SEEvent* event);  // the record's event_function

  // Makes a process function of member function F of a module class D, for
  // SetProcessFunction: `SetProcessFunction(ProcessFunction<&Module::Process>())`.
  template <auto F>
  static SEProcessFunction ProcessFunction();
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
  virtual void Close();      // OP_CLOSE, before the object deletes itself; default: nothing
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
  uint32_t SampleClock();  // HC_GET_SAMPLE_CLOCK

  // Pins.
  bool QueryPinProperties(int32_t index, SEPinProperties* properties);  // clears, then asks
  SEPin* GetPin(int32_t index);  // requires pins ("m_pins != 0"); the index is the caller's to keep in range

  // Events and process functions.
  // Posts an event to the host (HC_ADD_EVENT), due at `p_time_stamp`, which
  // must not be before the current clock; nothing without a callback.
  void AddEvent(uint32_t p_time_stamp, int32_t event_type, int32_t int_value1, int32_t int_value2,
                intptr_t ptr_value);
  void ScheduleCall(uint32_t time_stamp, SEDeferredCall call);  // AddEvent of an EVT_RUN_FUNCTION
  // Makes `f` the current process function: mirrored in the record, then
  // announced (HC_PROCESS_FUNCTION_CHANGED); the current one changes nothing.
  void SetProcessFunction(SEProcessFunction f);
  SEProcessMember GetProcessFunction() const { return m_process_function; }  // the current one
  void IdleProcess(int32_t buffer_offset, int32_t sample_frames);  // the default process function: nothing

 protected:
  SEHostCallback seaudioMaster;  // the host callback, or null
  AudioRecord m_record;          // the record the host holds; at a fixed place for the object's life
  float m_sample_rate;           // SetSampleRate's value
  int32_t m_block_size;          // SetBlockSize's value
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
