#include "StandInHost.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <map>

#include "FloatBits.h"

namespace sehost {

namespace {

// The host currently calling into a module on this thread. A module calls the
// host only from inside a call the host made (its construction included), so
// that host is the one to answer.
thread_local StandInHost* t_active_host = nullptr;
// The host that called into a module last: orphan callbacks are charged to it.
StandInHost* g_last_caller = nullptr;

// Every record a host holds, for module code that a test runs directly,
// outside any call of the host's. Hosts are not for concurrent use.
std::map<const void*, StandInHost*>& Registry() {
  static std::map<const void*, StandInHost*> registry;
  return registry;
}

template <class Record>
void Register(Record* record, StandInHost* host) {
  if (record) Registry()[record] = host;
}

void Unregister(const void* record) { Registry().erase(record); }

using setest::BitsFloat;
using setest::FloatBits;

}  // namespace

const char* HalfStateName(HalfState state) {
  switch (state) {
    case HalfState::kNone: return "never made";
    case HalfState::kRefused: return "not made: makeModule answered null";
    case HalfState::kMade: return "made";
    case HalfState::kOpened: return "opened";
    case HalfState::kClosed: return "closed";
  }
  return "unknown";
}


float TraceEntry::opt() const { return BitsFloat(opt_bits); }

StandInHost* StandInHost::EnterCall() {
  StandInHost* previous = t_active_host;
  t_active_host = this;
  g_last_caller = this;
  ++m_depth;
  return previous;
}

void StandInHost::LeaveCall(StandInHost* previous) {
  --m_depth;
  t_active_host = previous;
}

// Makes a host the active one, one level deeper, for a call into the module.
class StandInHost::CallScope {
 public:
  explicit CallScope(StandInHost* host) : m_host(host), m_previous(host->EnterCall()) {}
  ~CallScope() { m_host->LeaveCall(m_previous); }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  StandInHost* m_host;
  StandInHost* m_previous;
};

StandInHost::StandInHost(int32_t host_context) : m_host_context(host_context) {}

StandInHost::~StandInHost() {
  if (m_gui) CloseGui();
  if (m_audio) CloseAudio();
  if (g_last_caller == this) g_last_caller = nullptr;
}

void StandInHost::Refuse(const std::string& call, const char* half, HalfState state) {
  ++m_refused_calls;
  m_last_refusal = call + " refused: the " + half + " half is " + HalfStateName(state);
}

se_ret_t StandInHost::seaudioMaster(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                    float opt) {
  StandInHost* host = t_active_host;
  if (!host) {
    const auto known = Registry().find(record);
    if (known != Registry().end()) host = known->second;
  }
  if (!host) {
    if (g_last_caller) ++g_last_caller->m_orphan_callbacks;
    fprintf(stderr, "stand-in host: callback opcode %d outside any call into the module; answered 0\n",
            static_cast<int>(opcode));
    return 0;
  }
  return host->Answer(record, opcode, index, value, ptr, opt);
}

size_t StandInHost::TraceCall(Side side, Entry entry, const void* record, int32_t opcode, int32_t index,
                              int32_t value, const void* ptr, float opt) {
  m_trace.push_back(TraceEntry{side, entry, record, opcode, index, value, ptr, FloatBits(opt), 0, m_depth});
  const size_t at = m_trace.size() - 1;
  if (m_watcher) m_watcher->CallStarted(m_trace[at], *this);
  // The watcher may have cleared the trace.
  if (at < m_trace.size()) m_on_call.Notify(m_trace[at]);
  return at;
}

void StandInHost::Complete(size_t at, se_ret_t result) {
  if (at >= m_trace.size()) return;  // the trace was cleared during the call
  m_trace[at].result = result;
  if (m_watcher) m_watcher->CallReturned(m_trace[at], *this);
  if (at < m_trace.size()) m_on_return.Notify(m_trace[at]);
}

void StandInHost::RunAsCall(const std::function<void()>& call) {
  CallScope scope(this);
  call();
}

Side StandInHost::SideOf(const void* record) const {
  if (record && record == m_audio) return Side::kAudio;
  if (record && record == m_gui) return Side::kGui;
  return m_creating;
}

se_ret_t StandInHost::Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  const Side side = SideOf(record);
  const size_t at = TraceCall(side, Entry::kCallback, record, opcode, index, value, ptr, opt);
  CallbackAnswer answer;
  if (!m_overrides.empty()) m_overrides.Notify(m_trace[at], ptr, answer);
  se_ret_t result = answer.value;
  if (!answer.given && side == Side::kGui) result = AnswerGui(opcode, index, value, ptr, opt);
  if (!answer.given && side == Side::kAudio) result = AnswerAudio(opcode, index, value, ptr, opt);
  Complete(at, result);
  if (!m_on_callback.empty()) {
    const TraceEntry entry = m_trace[at];  // a hook may grow the trace
    ++m_depth;  // what a hook sends runs inside this callback
    m_on_callback.Notify(*this, entry);
    --m_depth;
  }
  return result;
}

se_ret_t StandInHost::AnswerGui(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  switch (opcode) {
    case GUI_HC_GET_PIN_VALUE: {
      if (ptr) {
        const uint32_t bits = PinBits(index);
        memcpy(ptr, &bits, sizeof bits);
      }
      return 0;
    }
    case GUI_HC_SET_PIN_VALUE: {
      // Integers travel in `value`, floats in `opt`, the other one 0. The
      // pin's datatype decides when the host knows it.
      PinState& pin = MutablePin(index);
      if (pin.datatype == DT_FLOAT) {
        pin.bits = FloatBits(opt);
      } else if (pin.datatype >= 0 || value != 0) {
        pin.bits = static_cast<uint32_t>(value);
      } else {
        pin.bits = FloatBits(opt);
      }
      return 0;
    }
    case GUI_HC_SET_PIN_TEXT:
      MutablePin(index).text = ptr ? static_cast<const char*>(ptr) : "";
      return 0;
    case GUI_HC_GET_PIN_TEXT:
      return reinterpret_cast<se_ret_t>(MutablePin(index).text.c_str());
    case GUI_HC_GET_PIN_TEXT_W: {
      // Answers the count with the NUL; with a buffer, fills as much as fits and the NUL.
      const std::u16string& text = MutablePin(index).wide_text;
      if (ptr && value > 0) {
        char16_t* out = static_cast<char16_t*>(ptr);
        const size_t n = std::min(static_cast<size_t>(value) - 1, text.size());
        std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), out);
        out[n] = u'\0';
      }
      return static_cast<int32_t>(text.size() + 1);
    }
    default: {
      const auto answer = m_gui_answers.find(opcode);
      return answer == m_gui_answers.end() ? 0 : answer->second;
    }
  }
}

se_ret_t StandInHost::AnswerAudio(int32_t opcode, int32_t index, int32_t, void* ptr, float) {
  switch (opcode) {
    case HC_GET_SAMPLE_CLOCK:
      return static_cast<se_ret_t>(m_schedule.sample_clock());
    case HC_GET_PIN_COUNT:
      return m_schedule.audio_pin_count();
    case HC_GET_PIN_BUFFER:
      return reinterpret_cast<se_ret_t>(m_schedule.BufferAddress(index));
    case HC_GET_BLOCK_START:  // per pin, like the buffer: 0 for a pin the host does not have
      if (index < 0 || index >= m_schedule.audio_pin_count()) return 0;
      return static_cast<se_ret_t>(m_schedule.block_start());
    case HC_ADD_EVENT:
      // The event is the module's temporary: the schedule keeps its own copy.
      if (ptr) {
        SEEvent copy;
        memcpy(&copy, ptr, sizeof copy);
        m_schedule.PostModuleEvent(copy);
      }
      return 0;
    default: {
      const auto answer = m_audio_answers.find(opcode);
      return answer == m_audio_answers.end() ? 0 : answer->second;
    }
  }
}

// ---- pins ----

void StandInHost::SetPinInt(int32_t pin, int32_t value) { MutablePin(pin).bits = static_cast<uint32_t>(value); }
void StandInHost::SetPinFloat(int32_t pin, float value) { MutablePin(pin).bits = FloatBits(value); }
void StandInHost::SetPinBits(int32_t pin, uint32_t bits) { MutablePin(pin).bits = bits; }
void StandInHost::SetPinText(int32_t pin, const std::string& text) { MutablePin(pin).text = text; }
void StandInHost::SetPinTextW(int32_t pin, const std::u16string& text) { MutablePin(pin).wide_text = text; }
void StandInHost::SetPinDatatype(int32_t pin, int32_t datatype) { MutablePin(pin).datatype = datatype; }

uint32_t StandInHost::PinBits(int32_t pin) const {
  const auto it = m_pins.find(pin);
  return it == m_pins.end() ? 0 : it->second.bits;
}
int32_t StandInHost::PinInt(int32_t pin) const { return static_cast<int32_t>(PinBits(pin)); }
float StandInHost::PinFloat(int32_t pin) const { return BitsFloat(PinBits(pin)); }

const PinState& StandInHost::Pin(int32_t pin) const {
  static const PinState kUnset;
  const auto it = m_pins.find(pin);
  return it == m_pins.end() ? kUnset : it->second;
}

// ---- either half ----

template <class Record>
Record* StandInHost::CreateHalf(Record*& slot, HalfState& state, const HalfCodes& codes,
                                const std::function<Record*(SEHostCallback, int32_t)>& factory) {
  if (slot) DispatchHalf(slot, state, codes, codes.close_opcode, 0, 0, nullptr, 0.0f);
  CallScope scope(this);
  m_creating = codes.side;
  slot = factory(&StandInHost::seaudioMaster, m_host_context);
  m_creating = Side::kUnknown;
  Register(slot, this);
  state = slot ? HalfState::kMade : HalfState::kRefused;
  return slot;
}

template <class Record>
se_ret_t StandInHost::DispatchHalf(Record*& slot, HalfState& state, const HalfCodes& codes, int32_t opcode,
                                   int32_t index, int32_t value, void* ptr, float opt) {
  if (!slot) {
    Refuse(std::string(codes.side == Side::kGui ? "GuiDispatch" : "AudioDispatch") + "(opcode " +
               std::to_string(opcode) + ")",
           codes.name, state);
    return 0;
  }
  Record* record = slot;
  const size_t at = TraceCall(codes.side, Entry::kDispatcher, record, opcode, index, value, ptr, opt);
  CallScope scope(this);
  const se_ret_t result = record->dispatcher(record, opcode, index, value, ptr, opt);
  Complete(at, result);
  if (slot != record) return result;  // replaced from inside the call
  if (opcode == codes.close_opcode) {  // the record is gone
    slot = nullptr;
    state = HalfState::kClosed;
    Unregister(record);
    // Events posted by a closed audio half go with it: they name its members.
    if (codes.side == Side::kAudio) m_schedule.DropModuleEvents();
  } else if (opcode == codes.open_opcode && state == HalfState::kMade) {
    state = HalfState::kOpened;
  }
  return result;
}

// ---- the GUI half ----

GuiRecord* StandInHost::CreateGui(SEMakeModule make_module, int32_t index) {
  return CreateGui([&](SEHostCallback callback, int32_t context) {
    return static_cast<GuiRecord*>(make_module(index, MT_GUI, callback, context));
  });
}

GuiRecord* StandInHost::CreateGui(const std::function<GuiRecord*(SEHostCallback, int32_t)>& factory) {
  return CreateHalf(m_gui, m_gui_state, kGuiHalf, factory);
}

se_ret_t StandInHost::GuiDispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  return DispatchHalf(m_gui, m_gui_state, kGuiHalf, opcode, index, value, ptr, opt);
}

se_ret_t StandInHost::CloseGui() { return m_gui ? GuiDispatch(GUI_OP_CLOSE) : 0; }

// ---- the audio half ----

AudioRecord* StandInHost::CreateAudio(SEMakeModule make_module, int32_t index) {
  return CreateAudio([&](SEHostCallback callback, int32_t context) {
    return static_cast<AudioRecord*>(make_module(index, MT_AUDIO, callback, context));
  });
}

AudioRecord* StandInHost::CreateAudio(const std::function<AudioRecord*(SEHostCallback, int32_t)>& factory) {
  return CreateHalf(m_audio, m_audio_state, kAudioHalf, factory);
}

se_ret_t StandInHost::AudioDispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  return DispatchHalf(m_audio, m_audio_state, kAudioHalf, opcode, index, value, ptr, opt);
}

se_ret_t StandInHost::CloseAudio() { return m_audio ? AudioDispatch(OP_CLOSE) : 0; }

std::vector<SEPinProperties> StandInHost::QueryPins(int32_t limit) {
  std::vector<SEPinProperties> pins;
  for (int32_t i = 0; i < limit; ++i) {
    SEPinProperties properties;
    memset(&properties, 0, sizeof properties);
    if (AudioDispatch(OP_GET_PIN_PROPERTIES, i, 0, &properties) == 0) break;
    pins.push_back(properties);
    MutablePin(i).datatype = properties.datatype;
  }
  return pins;
}

void StandInHost::CallProcess(int32_t buffer_offset, int32_t sample_frames) {
  if (!m_audio) return Refuse("CallProcess", "audio", m_audio_state);
  AudioRecord* record = m_audio;
  const size_t at = TraceCall(Side::kAudio, Entry::kProcess, record, 0, buffer_offset, sample_frames, nullptr, 0.0f);
  {
    CallScope scope(this);
    record->process_function(record->module, buffer_offset, sample_frames);
  }
  Complete(at, 0);
}

void StandInHost::DeliverEvent(const SEEvent& event) {
  if (!m_audio) return Refuse("DeliverEvent", "audio", m_audio_state);
  AudioRecord* record = m_audio;
  SEEvent copy = event;
  const size_t at =
      TraceCall(Side::kAudio, Entry::kEvent, record, copy.event_type, copy.int_value1, copy.int_value2, &copy, 0.0f);
  {
    CallScope scope(this);
    record->event_function(record->module, &copy);
  }
  Complete(at, 0);
}

bool StandInHost::CanRunQuietly() const {
  return m_audio && (!m_watcher || m_watcher->TakesQuietRuns()) && m_on_call.empty() && m_on_return.empty() &&
         m_on_callback.empty() && m_overrides.empty();
}

std::vector<TraceEntry> StandInHost::Callbacks() const {
  std::vector<TraceEntry> callbacks;
  std::copy_if(m_trace.begin(), m_trace.end(), std::back_inserter(callbacks),
               [](const TraceEntry& e) { return e.IsCallback(); });
  return callbacks;
}

}  // namespace sehost
