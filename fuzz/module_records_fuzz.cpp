// Drives both halves of the math module through their records with arbitrary
// sequences of opcodes and arguments, with the stand-in host answering, its
// faults included, and checks what holds for every sequence: the answers of
// both dispatchers, and for the math GUI half the exact host calls of each
// notification and the value it writes to "Result".
//
// Only calls within the contract are sent, since a contract violation ends the
// process by design: no audio opcodes 7 and 10, pin-properties records that
// obey the pin-flags rule, events stamped with the current clock, no pin
// status events (the math module has no audio-side pins), run-function events
// only with a null reference or one the framework made, no GUI half without a
// callback, no close from inside a call. Wide-text counts stay below 2^15:
// larger ones make the module reserve that much memory, as it must (the
// fault-injection test covers them with an allocator that refuses).
//
// Input: a sequence of commands, each a command byte and its arguments.

#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "FloatBits.h"
#include "FuzzCheck.h"
#include "GuiModule.h"
#include "HostFaults.h"
#include "ModuleEntry.h"
#include "SEModule_base.h"
#include "StandInHost.h"

namespace {

constexpr int32_t kMode = GuiModule::PIN_MODE;
constexpr int32_t kX = GuiModule::PIN_X;
constexpr int32_t kResult = GuiModule::PIN_RESULT;

// Reads the input front to back; past its end every read is 0.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool Done() const { return m_at >= m_size; }
  uint8_t U8() { return m_at < m_size ? m_data[m_at++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(U8()) << (8 * i);
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  float F32() { return setest::BitsFloat(U32()); }
  // Small values most of the time, any 32-bit value now and then.
  int32_t Small() {
    const uint8_t b = U8();
    return b >= 0xF0 ? I32() : static_cast<int32_t>(b % 16) - 2;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

// A GUI half that uses every pin operation and pass-through call of the
// framework, chosen by the notified pin's index, so that the host's text
// faults reach the framework's readers.
class TextProbe : public SEGUI_base {
 public:
  using SEGUI_base::SEGUI_base;
  void OnPinValueChange(GuiPin* pin) override {
    const int32_t index = pin->m_index;
    switch (static_cast<uint32_t>(index) % 11) {
      case 0: m_sink += static_cast<uint32_t>(pin->GetValueInt()); break;
      case 1: m_sink += pin->GetValueFloat() > 0.0f ? 1u : 0u; break;
      case 2: GetPin(index)->SetValueInt(index); break;
      case 3: GetPin(index)->SetValueFloat(0.5f); break;
      case 4: pin->SetValueText(pin->GetValueText()); break;
      case 5: m_sink += static_cast<uint32_t>(pin->GetValueTextW().size()); break;
      case 6: m_sink += static_cast<uint32_t>(HostCall8(index, 1, nullptr)); break;
      case 7: m_sink += static_cast<uint32_t>(HostCall18(&m_sink)); break;
      case 8: m_sink += static_cast<uint32_t>(HostCall19(nullptr)); break;
      case 9: m_sink += HostQuery20(&m_sink) ? 1u : 0u; break;
      default: m_sink += static_cast<uint32_t>(GetPin(index)->GetValueText().size()); break;
    }
  }

 private:
  uint32_t m_sink = 0;  // keeps the reads from being optimised away
};

double MathOf(int16_t mode, float x) {
  const double v = x;
  switch (mode) {
    case 0: return cos(v);
    case 1: return sin(v);
    case 2: return sqrt(v);
    default: return tan(v);
  }
}

class Session {
 public:
  explicit Session(Input& in) : m_in(in) {
    m_reentry_hook = m_host.OnCallback([this](sehost::StandInHost& host, const sehost::TraceEntry& entry) {
      // A host may notify the GUI half again from inside its own call.
      if (entry.side == sehost::Side::kGui && m_reentries > 0 && host.gui()) {
        --m_reentries;
        host.NotifyGui(m_reentry_pin);
      }
    });
  }

  void Run() {
    while (!m_in.Done()) Step();
  }

 private:
  void Step() {
    switch (m_in.U8() % 15) {
      case 0: CreateGui(); break;
      case 1: GuiDispatch(); break;
      case 2: Notify(static_cast<int32_t>(static_cast<int8_t>(m_in.U8()))); break;
      case 3: m_host.SetPinBits(m_in.U8() % 8, m_in.U32()); break;
      case 4: SetTexts(); break;
      case 5: SetFaults(); break;
      case 6: CreateAudio(); break;
      case 7: AudioDispatch(); break;
      case 8: m_host.schedule().SetAudioPinCount(m_in.U8() % 6, 1 + m_in.U8() % 128); break;
      case 9: m_host.schedule().RunBlock(m_in.U8()); break;
      case 10: DeliverEvent(); break;
      case 11: m_host.schedule().SetSampleClock(m_in.U32()); break;
      case 12:
        m_reentries = m_in.U8() % 4;
        m_reentry_pin = m_in.Small();
        break;
      case 13: CloseGui(); break;
      default: CloseAudio(); break;
    }
  }

  void CreateGui() {
    const uint8_t how = m_in.U8() % 4;
    m_math_gui = false;
    if (how == 0) {
      m_host.CreateGui([](SEHostCallback cb, int32_t ctx) { return (new TextProbe(cb, ctx))->Record(); });
      return;
    }
    // Refused requests answer null: another module index, or a type that is neither half.
    int32_t index = 0;
    int32_t type = 2;
    if (how == 2) index = m_in.I32() | 1;
    if (how == 3) type = m_in.I32() == 1 ? 3 : 3 + (m_in.U8() % 4);
    GuiRecord* record = m_host.CreateGui([&](SEHostCallback cb, int32_t ctx) {
      return static_cast<GuiRecord*>(makeModule(index, type, cb, ctx));
    });
    CHECK((record != nullptr) == (how == 1));
    m_math_gui = record != nullptr;
    m_mode = static_cast<int16_t>(m_host.PinInt(kMode));  // read while it was built
    m_mode_known = true;
  }

  void CloseGui() {
    const bool had_gui = m_host.gui() != nullptr;
    CHECK(m_host.CloseGui() == (had_gui ? 1 : 0));
    m_math_gui = false;
  }

  void GuiDispatch() {
    const uint8_t pick = m_in.U8();
    int32_t opcode = static_cast<int32_t>(pick % 16) - 1;  // -1 to 14
    if (pick >= 0xF0) opcode = m_in.I32();
    const int32_t index = m_in.Small();
    const int32_t value = m_in.I32();
    void* ptr = (m_in.U8() & 1) ? m_scratch : nullptr;
    const float opt = m_in.F32();
    if (opcode == GUI_OP_PIN_VALUE_CHANGE) {
      Notify(index);
      return;
    }
    const bool had_gui = m_host.gui() != nullptr;
    const se_ret_t answer = m_host.GuiDispatch(opcode, index, value, ptr, opt);
    CHECK(answer == ((had_gui && opcode == GUI_OP_CLOSE) ? 1 : 0));
    if (opcode == GUI_OP_CLOSE) m_math_gui = false;
  }

  // A notification; for the math GUI half without re-entry, also checks each
  // host call it makes against the module's fixed sequence. Re-entrant
  // notifications may change the mode unseen, until "Mode" is read again.
  void Notify(int32_t pin) {
    if (!m_host.gui()) return;
    const bool check = m_math_gui && m_reentries == 0 && (m_mode_known || pin == kMode);
    const size_t from = m_host.Trace().size();
    m_host.NotifyGui(pin);
    if (!check) {
      m_mode_known = false;
      return;
    }
    const std::vector<sehost::TraceEntry>& trace = m_host.Trace();
    CHECK(trace.size() >= from + 1);
    CHECK(trace[from].result == 0);
    std::vector<sehost::TraceEntry> calls(trace.begin() + static_cast<std::ptrdiff_t>(from) + 1, trace.end());
    size_t at = 0;
    auto expect_read = [&](int32_t read_pin) {
      CHECK(at < calls.size());
      CHECK(calls[at].opcode == GUI_HC_GET_PIN_VALUE && calls[at].index == read_pin && calls[at].value == 0 &&
            calls[at].ptr != nullptr && calls[at].opt_bits == 0);
      ++at;
    };
    if (pin == kMode) {
      expect_read(kMode);
      m_mode = static_cast<int16_t>(m_host.PinInt(kMode));
      m_mode_known = true;
    } else if (pin == kX) {
      expect_read(kX);
    }
    if (m_mode >= 0 && m_mode <= 3) {
      expect_read(kX);
      CHECK(at < calls.size());
      const float x = m_host.PinFloat(kX);
      const float y = static_cast<float>(MathOf(m_mode, x));
      CHECK(calls[at].opcode == GUI_HC_SET_PIN_VALUE && calls[at].index == kResult && calls[at].value == 0 &&
            calls[at].ptr == nullptr);
      CHECK(calls[at].opt_bits == setest::FloatBits(y) || (isnan(y) && isnan(calls[at].opt())));
      ++at;
    }
    CHECK(at == calls.size());
  }

  void SetTexts() {
    const int32_t pin = m_in.U8() % 8;
    const size_t length = m_in.U8() % 24;
    std::string narrow;
    std::u16string wide;
    for (size_t i = 0; i < length; ++i) {
      const uint8_t c = m_in.U8();
      if (c != 0) narrow += static_cast<char>(c);
      const char16_t w = static_cast<char16_t>(c | (m_in.U8() << 8));
      if (w != 0) wide += w;
    }
    m_host.SetPinText(pin, narrow);
    m_host.SetPinTextW(pin, wide);
  }

  void SetFaults() {
    const uint8_t b = m_in.U8();
    setest::HostFaults& faults = m_faults;
    faults.null_text = (b & 1) != 0;
    faults.wide_text_without_nul = (b & 2) != 0;
    faults.wide_count_override = (b & 4) != 0;
    faults.wide_count = static_cast<int16_t>(m_in.U8() | (m_in.U8() << 8));
  }

  void CreateAudio() {
    const uint8_t how = m_in.U8() % 3;
    int32_t index = 0;
    int32_t type = 1;
    if (how == 1) index = m_in.I32() | 1;
    if (how == 2) type = m_in.I32() == 2 ? 3 : 3 + (m_in.U8() % 4);
    AudioRecord* record = m_host.CreateAudio([&](SEHostCallback cb, int32_t ctx) {
      return static_cast<AudioRecord*>(makeModule(index, type, cb, ctx));
    });
    CHECK((record != nullptr) == (how == 0));
  }

  void AudioDispatch() {
    static const int32_t kOpcodes[] = {OP_OPEN, OP_CLOSE, OP_SET_SAMPLE_RATE, OP_SET_BLOCK_SIZE, 4, 5,
                                       OP_GET_PIN_PROPERTIES, OP_NOTIFY, 9, 11, OP_COMMAND,
                                       OP_GET_PROCESS_FUNCTION_INFO, 14, 255, -1, INT32_MIN};
    const uint8_t pick = m_in.U8();
    int32_t opcode = kOpcodes[pick % (sizeof kOpcodes / sizeof kOpcodes[0])];
    if (pick >= 0xF0) {
      opcode = m_in.I32();
      if (opcode == 7 || opcode == 10) opcode = 9;
    }
    const int32_t index = m_in.Small();
    const int32_t value = m_in.I32();
    const float opt = m_in.F32();
    void* ptr = (m_in.U8() & 1) ? m_scratch : nullptr;
    SEPinProperties properties;
    if (opcode == OP_GET_PIN_PROPERTIES) {
      // Whatever the host left in its record, but never a description that
      // breaks the pin-flags rule: a pin the module does not have is not written.
      for (size_t i = 0; i < sizeof properties; ++i) reinterpret_cast<uint8_t*>(&properties)[i] = m_in.U8();
      if (!SEPinFlagsAllowed(properties)) properties.flags &= ~IO_PATCH_STORE;
      ptr = &properties;
    }
    const bool had_audio = m_host.audio() != nullptr;
    const se_ret_t answer = m_host.AudioDispatch(opcode, index, value, ptr, opt);
    if (!had_audio) {
      CHECK(answer == 0);
    } else if (opcode == OP_CLOSE) {
      CHECK(answer == 1);
    } else if (opcode == OP_GET_PIN_PROPERTIES) {
      CHECK(answer == ((index >= 0 && index <= 2) ? 1 : 0));
      if (answer) CHECK(properties.flags == IO_UI_COMMUNICATION);
    } else if (opcode == OP_GET_PROCESS_FUNCTION_INFO) {
      CHECK(answer != 0);
    } else {
      CHECK(answer == 0);
    }
  }

  void DeliverEvent() {
    int32_t type = m_in.Small();
    if (type == EVT_PIN_STATUS) type = EVT_TIMED_MESSAGE;
    const int32_t v1 = m_in.I32();
    const int32_t v2 = m_in.I32();
    intptr_t reference = 0;
    if (type == EVT_RUN_FUNCTION) {
      switch (m_in.U8() % 3) {
        case 0: break;
        case 1: reference = reinterpret_cast<intptr_t>(SEModule_base::MemberCall<&SEModule_base::OnNotify>()); break;
        default: reference = reinterpret_cast<intptr_t>(SEModule_base::MemberCall<&SEModule_base::ReservedA>()); break;
      }
    } else {
      reference = static_cast<intptr_t>(m_in.I32());
    }
    m_host.DeliverEvent(SEEvent{m_host.schedule().sample_clock(), type, v1, v2, reference, nullptr});
  }

  void CloseAudio() {
    const bool had_audio = m_host.audio() != nullptr;
    CHECK(m_host.CloseAudio() == (had_audio ? 1 : 0));
  }

  Input& m_in;
  sehost::StandInHost m_host;
  setest::HostFaults m_faults{m_host};
  sehost::Subscription m_reentry_hook;  // ends before the host closes the halves
  bool m_math_gui = false;
  int16_t m_mode = 0;  // what the math GUI half last read from "Mode"
  bool m_mode_known = false;
  int m_reentries = 0;
  int32_t m_reentry_pin = 0;
  int32_t m_scratch[16] = {};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  Session session(in);
  session.Run();
  return 0;
}
