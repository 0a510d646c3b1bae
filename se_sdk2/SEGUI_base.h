#pragma once
// Base of every GUI half. Carries the GuiRecord the host holds, turns the
// host's GUI opcodes into virtual handlers with do-nothing defaults, and keeps
// the host callback through which the half reaches the host.

#include "GuiPin.h"
#include "GuiRecord.h"
#include "se_boundary.h"

class SEGUI_base {
 public:
  // Stores the callback (may be null: only calls into the host check it) and
  // builds the record. Makes no host call.
  SEGUI_base(SEHostCallback seaudioMaster, int32_t host_context);
  virtual ~SEGUI_base();

  // The host holds the record's address, so the object never moves.
  SEGUI_base(const SEGUI_base&) = delete;
  SEGUI_base& operator=(const SEGUI_base&) = delete;

  // The address makeModule hands to the host.
  GuiRecord* Record() { return &m_record; }

  // GuiRecord::dispatcher (host → GUI half, on the thread that drives every
  // GUI half of the library). Forwards to the object's Dispatch and returns
  // its answer unchanged; an exception never reaches the host: it ends the
  // call with the answer 0. A GUI_OP_CLOSE that arrives while the half is
  // inside another of its calls (the host closing it from one of the half's
  // own host calls) answers 1 at once, but the object is destroyed only when
  // the outermost call into it returns, so that call never runs on freed memory.
  static se_ret_t StaticDispatch(GuiRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                 float opt);

  // host → GUI half. The order of these virtuals is part of the framework.
  // One opcode of SE_GUI_OPCODES (the record's dispatcher); answers as the table says.
  virtual se_ret_t Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
  virtual void Open(bool flag);  // GUI_OP_OPEN, flag = (index == 1); default: nothing
  // GUI_OP_CLOSE, before the object is destroyed (destroyed even when Close
  // throws); default: nothing.
  virtual void Close();
  virtual void OnGuiOpcode2(int32_t index, void* ptr);          // GUI_OP_CODE_2; default: nothing
  virtual void OnGuiOpcode3(void* ptr, float opt, GuiPair pair);  // GUI_OP_CODE_3; default: nothing
  virtual void OnGuiOpcode4(void* ptr, float opt, GuiPair pair);  // GUI_OP_CODE_4; default: nothing
  virtual void OnGuiOpcode5(void* ptr, float opt, GuiPair pair);  // GUI_OP_CODE_5; default: nothing
  virtual void OnGuiOpcode8(void* ptr);         // GUI_OP_CODE_8; default: nothing
  virtual void OnGuiOpcode9(void* ptr);         // GUI_OP_CODE_9; default: nothing
  virtual bool OnGuiOpcode10();                 // GUI_OP_CODE_10, answered as 1 or 0; default: false
  virtual void OnGuiOpcode11(int32_t index);    // GUI_OP_CODE_11; default: nothing
  virtual void OnGuiOpcode12(int32_t index);    // GUI_OP_CODE_12; default: nothing
  virtual void OnGuiOpcode6(int32_t value, int32_t index, void* ptr);  // GUI_OP_CODE_6; default: nothing
  // GUI_OP_PIN_VALUE_CHANGE: `pin` is a handle local to the call, on the
  // pin the host changed; default: nothing.
  virtual void OnPinValueChange(GuiPin* pin);

  // GUI half → host. Each requires a host callback (assertion "seaudioMaster").
  // CallHost and GetPin are inline: a pin read or write is the host call and
  // little more. Without a callback m_host_call is MissingCallback, which
  // fails the assertion, so the check costs a call nothing.
  se_ret_t CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    return m_host_call(&m_record, opcode, index, value, ptr, opt);
  }
  // The one handle shared by every GUI half of the library, set to this half
  // and `index`; valid until the next GetPin call by any half, so use it at
  // once, on the thread that drives the GUI halves. No host call.
  GuiPin* GetPin(int32_t index) {
    m_shared_pin.m_module = this;
    m_shared_pin.m_index = index;
    return &m_shared_pin;
  }
  se_ret_t HostCall8(int32_t a, int32_t b, void* c);  // GUI_HC_CODE_8 with index a, value b, ptr c
  se_ret_t HostCall18(void* p);  // GUI_HC_CODE_18 with ptr p
  se_ret_t HostCall19(void* p);  // GUI_HC_CODE_19 with ptr p
  bool HostQuery20(void* p);     // GUI_HC_CODE_20 with ptr p; a non-zero answer is true

 protected:
  SEHostCallback seaudioMaster;  // the host callback; null fails every call into the host
  GuiRecord m_record;            // the record the host holds; at a fixed place for the object's life

 private:
  // Stands in for a null host callback: fails the assertion "seaudioMaster"
  // and ends the process; no call reaches the host.
  [[noreturn]] static se_ret_t MissingCallback(void* record, int32_t opcode, int32_t index, int32_t value,
                                               void* ptr, float opt);

  SEHostCallback m_host_call;  // what CallHost calls: seaudioMaster, or MissingCallback when that is null
  // GUI_OP_CLOSE: runs Close once and gives up the host's hold, which
  // destroys the object unless a call into it is still running. Out of line,
  // so a pin change pays nothing for it.
  [[gnu::noinline]] void CloseAndRelease();
  // Destroys a half whose last hold StaticDispatch gave up; answers `answer`.
  [[gnu::noinline]] static se_ret_t Release(SEGUI_base* half, se_ret_t answer);

  // Holds on the object: one for the host until GUI_OP_CLOSE, one for each
  // StaticDispatch call into it now running. The object is destroyed when
  // the last hold goes.
  int32_t m_holds = 1;
  bool m_closed = false;  // GUI_OP_CLOSE has been answered

  static GuiPin m_shared_pin;  // GetPin's handle: one for the whole library, shared by every GUI half
};

// GuiPin's value operations (declared in GuiPin.h), inline for the same reason
// as CallHost. Each makes exactly one host call.

inline int32_t GuiPin::GetValueInt() const {
  int32_t v = 0;  // stays 0 if the host writes nothing
  m_module->CallHost(GUI_HC_GET_PIN_VALUE, m_index, 0, &v, 0.0f);
  return v;
}

SE_FLOAT_RESULT_INLINE inline float GuiPin::GetValueFloat() const {
  float v = 0.0f;
  m_module->CallHost(GUI_HC_GET_PIN_VALUE, m_index, 0, &v, 0.0f);
  return v;
}

inline void GuiPin::SetValueInt(int32_t v) const {
  m_module->CallHost(GUI_HC_SET_PIN_VALUE, m_index, v, nullptr, 0.0f);
}

inline void GuiPin::SetValueFloat(float v) const {
  m_module->CallHost(GUI_HC_SET_PIN_VALUE, m_index, 0, nullptr, v);
}
