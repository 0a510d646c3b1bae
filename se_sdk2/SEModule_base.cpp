#include "SEModule_base.h"

#include <string.h>

#include <new>

#include "SEAssert.h"

namespace {

constexpr const char* kFileLabel = "..\\se_sdk2\\SEModule_base";

constexpr const char* kPinFlagsRule =
    "(((SEPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || (((SEPinProperties*)ptr)->flags & IO_PRIVATE) "
    "!= 0 || ((SEPinProperties*)ptr)->direction == DR_OUT || ( ( (SEPinProperties*)ptr)->flags & "
    "IO_UI_COMMUNICATION) != 0";

// Shared by every instance; rewritten by each OP_GET_PROCESS_FUNCTION_INFO.
ProcessFunctionInfo g_process_function_info = {1, 0, nullptr, 1002};

}  // namespace

SEModule_base::SEModule_base(SEHostCallback callback, int32_t host_context)
    : seaudioMaster(callback),
      m_sample_rate(44100.0f),
      m_block_size(1024),
      m_pins(nullptr),
      m_process_function(&SEModule_base::IdleProcess),
      m_pin_count(0) {
  memset(&m_record, 0, sizeof m_record);
  memcpy(m_record.magic, "LPES", 4);
  m_record.version = 1;
  m_record.host_context = host_context;
  m_record.module = this;
  m_record.dispatcher = &SEModule_base::StaticDispatch;
  m_record.process_function = CodeEntry(m_process_function);
  m_record.event_function = &SEModule_base::StaticHandleEvent;
}

SEModule_base::~SEModule_base() { delete[] m_pins; }  // elements go from the last to the first

se_ret_t SEModule_base::StaticDispatch(AudioRecord* record, int32_t opcode, int32_t index, int32_t value,
                                       void* ptr, float opt) {
  SEModule_base* self = record->module;
  self->EnterCall();
  se_ret_t answer = 0;
  try {
    answer = self->Dispatch(opcode, index, value, ptr, opt);
  } catch (...) {
    answer = 0;
  }
  self->LeaveCall();
  return answer;
}

void SEModule_base::StaticHandleEvent(SEModule_base* module, SEEvent* event) {
  if (!event) return;  // nothing to handle
  module->EnterCall();
  try {
    module->HandleEvent(event);
  } catch (...) {
    // An exception must not cross into the host; the event is simply handled.
  }
  module->LeaveCall();
}

se_ret_t SEModule_base::Dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  switch (opcode) {
    case OP_OPEN:
      Open();
      return 0;
    case OP_CLOSE:
      CloseAndRelease();
      return 1;
    case OP_SET_SAMPLE_RATE:
      SetSampleRate(opt);
      return 0;
    case OP_SET_BLOCK_SIZE:
      SetBlockSize(value);
      return 0;
    case OP_GET_PIN_PROPERTIES: {
      // A null record is bad input, not a pin: nothing to fill, nothing to check.
      if (!ptr) return 0;
      SEPinProperties* properties = static_cast<SEPinProperties*>(ptr);
      const bool exists = GetPinProperties(index, properties);
      SE_ASSERT_TEXT(SEPinFlagsAllowed(*properties), kPinFlagsRule, kFileLabel);
      return exists ? 1 : 0;
    }
    case OP_CODE_7:
    case OP_CODE_10:
      SE_ASSERT(false, kFileLabel);
      return 0;
    case OP_NOTIFY:
      OnNotify();
      if (index > 0) OnNotifyCount(index);
      return 0;
    case OP_COMMAND:
      OnHostCommand(value, index, ptr);
      return 0;
    case OP_GET_PROCESS_FUNCTION_INFO:
      g_process_function_info.kind = 1;
      g_process_function_info.size = static_cast<int32_t>(sizeof m_process_function);
      g_process_function_info.address = &m_process_function;
      g_process_function_info.tag = 1002;
      return reinterpret_cast<se_ret_t>(&g_process_function_info);
    case OP_CODE_4:
    case OP_CODE_5:
    case OP_CODE_9:
    case OP_CODE_11:
    default:  // accepted without action, as is everything outside the interface
      return 0;
  }
}

void SEModule_base::CloseAndRelease() {
  if (m_closed) return;  // already closed, waiting for its outermost call to end
  m_closed = true;
  // The instance goes whatever Close does: the host never uses it again.
  try {
    Close();
  } catch (...) {
  }
  if (--m_holds == 0) delete this;  // no call into the half is running (Dispatch called directly)
}

void SEModule_base::Release(SEModule_base* half) { delete half; }

void SEModule_base::OnPinStatusChange(SEPin*) {}
void SEModule_base::Close() {}
void SEModule_base::ReservedA() {}
void SEModule_base::SetSampleRate(float rate) { m_sample_rate = rate; }
void SEModule_base::SetBlockSize(int32_t size) { m_block_size = size; }
float SEModule_base::SampleRate() { return m_sample_rate; }
int32_t SEModule_base::BlockSize() { return m_block_size; }
bool SEModule_base::GetPinProperties(int32_t, SEPinProperties*) { return false; }
int32_t SEModule_base::ReservedB() { return 0; }
int32_t SEModule_base::ReservedC() { return 0; }
void SEModule_base::OnNotify() {}
void SEModule_base::OnNotifyCount(int32_t) {}
void SEModule_base::OnTimedMessage(uint32_t, int32_t, int16_t) {}
void SEModule_base::OnHostCommand(int32_t, int32_t, void*) {}
void SEModule_base::IdleProcess(int32_t, int32_t) noexcept {}

se_ret_t SEModule_base::CallHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  if (!seaudioMaster) return 0;
  return seaudioMaster(&m_record, opcode, index, value, ptr, opt);
}

// ---- pins ----

bool SEModule_base::QueryPinProperties(int32_t index, SEPinProperties* properties) {
  memset(properties, 0, sizeof *properties);
  return GetPinProperties(index, properties);
}

void SEModule_base::Open() {
  const int32_t count = static_cast<int32_t>(CallHost(HC_GET_PIN_COUNT, 0, 0, nullptr, 0.0f));

  // A repeated open replaces the pins: the new array is made before the old
  // one goes, so a failed allocation leaves the module as it was.
  SEPin* pins = count > 0 ? new SEPin[static_cast<size_t>(count)] : nullptr;
  delete[] m_pins;
  m_pins = pins;
  m_pin_count = 0;

  SEPinProperties properties;
  int32_t i = 0;  // declaration index
  int32_t j = 0;  // audio-side pin index
  for (;; ++i) {
    if (!QueryPinProperties(i, &properties)) break;
    if (j >= count) break;
    if (SEPinHasAudioSide(properties)) {
      m_pins[j].Init(this, j, properties.datatype, properties.variable_address);
      m_pin_count = ++j;
    }
  }
  if (i == 0) return;

  // The last declaration the walk handled may repeat up to the host's count.
  QueryPinProperties(i - 1, &properties);
  if (SEPinHasAudioSide(properties) && (properties.flags & IO_REPEATING) != 0) {
    for (; j < count; m_pin_count = ++j) m_pins[j].Init(this, j, properties.datatype, nullptr);
  }
}

// ---- events and process functions ----

void SEModule_base::AddEvent(uint32_t p_time_stamp, int32_t event_type, int32_t int_value1, int32_t int_value2,
                             intptr_t ptr_value) {
  if (!seaudioMaster) return;
  SE_ASSERT(p_time_stamp >= SampleClock(), kFileLabel);
  SEEvent event = {p_time_stamp, event_type, int_value1, int_value2, ptr_value, nullptr};
  CallHost(HC_ADD_EVENT, 0, 0, &event, 0.0f);
}

void SEModule_base::ScheduleCall(uint32_t time_stamp, SEDeferredCall call) {
  AddEvent(time_stamp, EVT_RUN_FUNCTION, 0, 0, reinterpret_cast<intptr_t>(call));
}

void SEModule_base::HandleEvent(SEEvent* e) { RouteEvent<SEModule_base>(e); }

void SEModule_base::RouteOtherEvent(SEEvent* e) {
  const int32_t type = e->event_type;
  if (type == EVT_TIMED_MESSAGE) {
    OnTimedMessage(e->time_stamp, e->int_value1, static_cast<int16_t>(e->int_value2 & 0xFFFF));
  } else if (type == EVT_RUN_FUNCTION) {
    if (e->ptr_value) reinterpret_cast<SEDeferredCall>(e->ptr_value)(this);
  }
  // Every other type: nothing.
}

void SEModule_base::SetProcessFunction(SEProcessMember f) {
  if (f == m_process_function) return;
  m_process_function = f;
  m_record.process_function = CodeEntry(f);
  CallHost(HC_PROCESS_FUNCTION_CHANGED, 0, 0, nullptr, 0.0f);
}
