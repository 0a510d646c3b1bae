#include "SEGUI_base.h"

#include <stdlib.h>
#include <string.h>

#include "SEAssert.h"

// The dispatcher hands `opt` on bit for bit only if no float passes the x87.
#if defined(__i386__) && !defined(__SSE2_MATH__)
#error "32-bit x86 builds of the framework need SSE2 scalar floating point (-msse2 -mfpmath=sse)"
#endif

namespace {

constexpr const char* kFileLabel = "..\\se_sdk2\\SEGUI_base";

}  // namespace

GuiPin SEGUI_base::m_shared_pin = {0, nullptr};

SEGUI_base::SEGUI_base(SEHostCallback callback, int32_t host_context)
    : seaudioMaster(callback), m_host_call(callback ? callback : &SEGUI_base::MissingCallback) {
  memset(&m_record, 0, sizeof m_record);
  memcpy(m_record.magic, "MPES", 4);
  m_record.dispatcher = &SEGUI_base::StaticDispatch;
  m_record.host_context = host_context;
  m_record.module = this;
  m_record.version = 1;
}

SEGUI_base::~SEGUI_base() = default;

se_ret_t SEGUI_base::StaticDispatch(GuiRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                    float opt) {
  SEGUI_base* self = record->module;
  ++self->m_holds;
  se_ret_t answer = 0;
  try {
    answer = self->Dispatch(opcode, index, value, ptr, opt);
  } catch (...) {
    answer = 0;
  }
  // Freeing a half closed from inside one of its own calls waits until that
  // call is over: the call would otherwise go on in freed memory.
  if (--self->m_holds == 0) return Release(self, answer);
  return answer;
}

se_ret_t SEGUI_base::Release(SEGUI_base* half, se_ret_t answer) {
  delete half;
  return answer;
}

se_ret_t SEGUI_base::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  // A pin change is the call a host makes most often: it is tested first, so
  // it does not pay for the jump through the table.
  if (opcode == GUI_OP_PIN_VALUE_CHANGE) {
    GuiPin pin = {index, this};
    OnPinValueChange(&pin);
    return 0;
  }
  // Compared unsigned, so every negative opcode falls outside the table.
  switch (static_cast<uint32_t>(opcode)) {
    case GUI_OP_OPEN:
      Open(index == 1);
      return 0;
    case GUI_OP_CLOSE:
      CloseAndRelease();
      return 1;
    case GUI_OP_CODE_2:
      OnGuiOpcode2(index, ptr);
      return 0;
    case GUI_OP_CODE_3:
      OnGuiOpcode3(ptr, opt, GuiPair{index, value});
      return 0;
    case GUI_OP_CODE_4:
      OnGuiOpcode4(ptr, opt, GuiPair{index, value});
      return 0;
    case GUI_OP_CODE_5:
      OnGuiOpcode5(ptr, opt, GuiPair{index, value});
      return 0;
    case GUI_OP_CODE_6:
      OnGuiOpcode6(value, index, ptr);
      return 0;
    case GUI_OP_CODE_8:
      OnGuiOpcode8(ptr);
      return 0;
    case GUI_OP_CODE_9:
      OnGuiOpcode9(ptr);
      return 0;
    case GUI_OP_CODE_10:
      return OnGuiOpcode10() ? 1 : 0;
    case GUI_OP_CODE_11:
      OnGuiOpcode11(index);
      return 0;
    case GUI_OP_CODE_12:
      OnGuiOpcode12(index);
      return 0;
    default:
      return 0;
  }
}

void SEGUI_base::Open(bool) {}
void SEGUI_base::Close() {}
void SEGUI_base::OnGuiOpcode2(int32_t, void*) {}
void SEGUI_base::OnGuiOpcode3(void*, float, GuiPair) {}
void SEGUI_base::OnGuiOpcode4(void*, float, GuiPair) {}
void SEGUI_base::OnGuiOpcode5(void*, float, GuiPair) {}
void SEGUI_base::OnGuiOpcode8(void*) {}
void SEGUI_base::OnGuiOpcode9(void*) {}
bool SEGUI_base::OnGuiOpcode10() { return false; }
void SEGUI_base::OnGuiOpcode11(int32_t) {}
void SEGUI_base::OnGuiOpcode12(int32_t) {}
void SEGUI_base::OnGuiOpcode6(int32_t, int32_t, void*) {}
void SEGUI_base::OnPinValueChange(GuiPin*) {}

void SEGUI_base::CloseAndRelease() {
  if (m_closed) return;  // already closed, waiting for its outermost call to end
  m_closed = true;
  // The instance goes whatever Close does: the host never uses it again.
  try {
    Close();
  } catch (...) {
  }
  if (--m_holds == 0) delete this;  // no call into the half is running (Dispatch called directly)
}

se_ret_t SEGUI_base::MissingCallback(void* record, int32_t, int32_t, int32_t, void*, float) {
  const SEHostCallback seaudioMaster = static_cast<GuiRecord*>(record)->module->seaudioMaster;
  SE_ASSERT(seaudioMaster, kFileLabel);  // fails: called only without a callback
  abort();
}

se_ret_t SEGUI_base::HostCall8(int32_t a, int32_t b, void* c) { return CallHost(GUI_HC_CODE_8, a, b, c, 0.0f); }
se_ret_t SEGUI_base::HostCall18(void* p) { return CallHost(GUI_HC_CODE_18, 0, 0, p, 0.0f); }
se_ret_t SEGUI_base::HostCall19(void* p) { return CallHost(GUI_HC_CODE_19, 0, 0, p, 0.0f); }
bool SEGUI_base::HostQuery20(void* p) { return CallHost(GUI_HC_CODE_20, 0, 0, p, 0.0f) != 0; }
