#include "StandInHost.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace sehost {

namespace {

// The host currently calling into a module on this thread. A module calls the
// host only from inside a call the host made (its construction included), so
// that host is the one to answer.
thread_local StandInHost* t_active_host = nullptr;
size_t g_orphan_callbacks = 0;

uint32_t FloatBits(float f) {
  uint32_t bits;
  memcpy(&bits, &f, sizeof bits);
  return bits;
}

float BitsFloat(uint32_t bits) {
  float f;
  memcpy(&f, &bits, sizeof f);
  return f;
}

constexpr int32_t kDtFloat = 6;

}  // namespace

float TraceEntry::opt() const { return BitsFloat(opt_bits); }

// Makes a host the active one for the duration of a call into the module.
class StandInHost::ActiveScope {
 public:
  explicit ActiveScope(StandInHost* host) : m_previous(t_active_host) { t_active_host = host; }
  ~ActiveScope() { t_active_host = m_previous; }
  ActiveScope(const ActiveScope&) = delete;
  ActiveScope& operator=(const ActiveScope&) = delete;

 private:
  StandInHost* m_previous;
};

StandInHost::StandInHost(int32_t host_context) : m_host_context(host_context) {}

StandInHost::~StandInHost() {
  if (m_gui) CloseGui();
}

size_t StandInHost::OrphanCallbacks() { return g_orphan_callbacks; }

se_ret_t StandInHost::seaudioMaster(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                    float opt) {
  StandInHost* host = t_active_host;
  if (!host) {
    ++g_orphan_callbacks;
    fprintf(stderr, "stand-in host: callback opcode %d outside any call into the module; answered 0\n",
            static_cast<int>(opcode));
    return 0;
  }
  return host->Answer(record, opcode, index, value, ptr, opt);
}

size_t StandInHost::TraceCall(Direction direction, const void* record, int32_t opcode, int32_t index,
                              int32_t value, const void* ptr, float opt) {
  m_trace.push_back(TraceEntry{direction, record, opcode, index, value, ptr, FloatBits(opt), 0});
  return m_trace.size() - 1;
}

se_ret_t StandInHost::Answer(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  const size_t at = TraceCall(Direction::kGuiToHost, record, opcode, index, value, ptr, opt);
  const se_ret_t result = AnswerGui(opcode, index, value, ptr, opt);
  m_trace[at].result = result;
  if (m_hook) {
    const TraceEntry entry = m_trace[at];  // the hook may grow the trace
    m_hook(*this, entry);
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
      if (pin.datatype == kDtFloat) {
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
      if (m_faults.null_text) return 0;
      return reinterpret_cast<se_ret_t>(MutablePin(index).text.c_str());
    case GUI_HC_GET_PIN_TEXT_W: {
      const std::u16string& text = MutablePin(index).wide_text;
      const int32_t needed = static_cast<int32_t>(text.size() + 1);
      const int32_t count = m_faults.wide_count_override ? m_faults.wide_count : needed;
      if (ptr && value > 0) {
        char16_t* out = static_cast<char16_t*>(ptr);
        if (m_faults.wide_text_without_nul) {
          for (int32_t i = 0; i < value; ++i) out[i] = text.empty() ? u'?' : text[static_cast<size_t>(i) % text.size()];
        } else {
          const size_t n = std::min(static_cast<size_t>(value) - 1, text.size());
          std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), out);
          out[n] = u'\0';
        }
      }
      return count;
    }
    default: {
      const auto answer = m_answers.find(opcode);
      return answer == m_answers.end() ? 0 : answer->second;
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

// ---- the GUI half ----

GuiRecord* StandInHost::CreateGui(SEMakeModule make_module, int32_t index) {
  return CreateGui([&](SEHostCallback callback, int32_t context) {
    return static_cast<GuiRecord*>(make_module(index, 2, callback, context));
  });
}

GuiRecord* StandInHost::CreateGui(const std::function<GuiRecord*(SEHostCallback, int32_t)>& factory) {
  if (m_gui) CloseGui();
  ActiveScope scope(this);
  m_gui = factory(&StandInHost::seaudioMaster, m_host_context);
  return m_gui;
}

se_ret_t StandInHost::GuiDispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  if (!m_gui) return 0;
  GuiRecord* record = m_gui;
  const size_t at = TraceCall(Direction::kHostToGui, record, opcode, index, value, ptr, opt);
  ActiveScope scope(this);
  const se_ret_t result = record->dispatcher(record, opcode, index, value, ptr, opt);
  m_trace[at].result = result;
  if (opcode == GUI_OP_CLOSE && m_gui == record) m_gui = nullptr;  // the record is gone
  return result;
}

se_ret_t StandInHost::CloseGui() { return m_gui ? GuiDispatch(GUI_OP_CLOSE) : 0; }

std::vector<TraceEntry> StandInHost::Callbacks() const {
  std::vector<TraceEntry> callbacks;
  std::copy_if(m_trace.begin(), m_trace.end(), std::back_inserter(callbacks),
               [](const TraceEntry& e) { return e.IsCallback(); });
  return callbacks;
}

}  // namespace sehost
