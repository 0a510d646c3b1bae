// Pulse: an event-driven generator. It writes one sample of 1.0 at exact
// frames and 0.0 everywhere else, "Rate" pulses per second:
//
//   pulse k (k = 0, 1, 2, …) at frame  t0 + floor(k × sampleRate / rate)
//
// computed in double, where t0 is the clock of the last change of "Rate" (the
// clock at open before any change). A rate above the sample rate pulses on
// every frame; a rate that is not a positive number stops the pulses; so do
// frames past the end of the 32-bit sample clock.
//
// Pins: 0 "Rate" DR_IN DT_FLOAT (held in m_rate), 1 "Output" DR_OUT DT_FSAMPLE.
//
// Nothing is computed per sample. The module posts itself events and the
// host hands each one back at its exact clock, splitting its blocks there:
// - ScheduleCall(t, Fire) raises the level at the pulse's frame t and
//   schedules the next pulse;
// - AddEvent(t + 1, EVT_TIMED_MESSAGE) lowers it one frame later.
// Process only copies the level into the output. The output pin announces
// each pulse with TransmitStatus: status 2 (streaming) at t, 0 (silence
// follows) at t + 1.

#include <math.h>
#include <stdint.h>

#include "SEModuleEntry.h"
#include "SEModule_base.h"

namespace {

constexpr int32_t kOutputPin = 1;
constexpr int32_t kPulseEnd = 1;  // the timed message that lowers the level

class Pulse : public SEModule_base {
 public:
  using SEModule_base::SEModule_base;

  bool GetPinProperties(int32_t index, SEPinProperties* properties) override {
    if (index == 0) {
      properties->name = "Rate";
      properties->direction = DR_IN;
      properties->datatype = DT_FLOAT;
      properties->variable_address = &m_rate;
      return true;
    }
    if (index == kOutputPin) {
      properties->name = "Output";
      properties->direction = DR_OUT;
      properties->datatype = DT_FSAMPLE;
      return true;
    }
    return false;
  }

  void Open() override {
    SetProcessFunction(ProcessFunction<&Pulse::Process>());
    SEModule_base::Open();
    // The output's buffer stays put for the run (null without the pin or a buffer).
    m_out = PinCount() > kOutputPin ? GetPin(kOutputPin)->SampleBuffer() : nullptr;
    Restart(SampleClock());
  }

  // The host wrote a new "Rate" (status 1 on pin 0): the sequence starts again now.
  void OnPinStatusChange(SEPin* pin) override {
    if (pin->Index() == 0) Restart(SampleClock());
  }

  // The end of a pulse, one frame after it; nothing if the next pulse is due
  // at that very frame and has fired already (events of one clock come in
  // the order they were posted, and a pulse posted before a change of "Rate"
  // may fire before the end of the pulse ahead of it).
  void OnTimedMessage(uint32_t clock, int32_t value, int16_t) override {
    if (value != kPulseEnd || (m_level != 0.0f && m_last_pulse == clock)) return;
    m_level = 0.0f;
    GetPin(kOutputPin)->TransmitStatus(clock, 0);
  }

  void Process(int32_t offset, int32_t frames) {
    if (!m_out) return;
    for (int32_t i = offset; i < offset + frames; ++i) m_out[i] = m_level;
  }

 private:
  // Pulse k of the sequence is due: raise the level, post its end, schedule k + 1.
  void Fire() {
    const uint32_t now = SampleClock();
    if (!m_armed || now != m_next) return;  // posted before the last change of "Rate"
    m_level = 1.0f;
    m_last_pulse = now;
    GetPin(kOutputPin)->TransmitStatus(now, 2);
    if (now != UINT32_MAX) AddEvent(now + 1, EVT_TIMED_MESSAGE, kPulseEnd, 0, 0);
    ++m_k;
    ScheduleNext();
  }

  void Restart(uint32_t clock) {
    m_start = clock;
    m_k = 0;
    ScheduleNext();
  }

  // Posts pulse m_k, or disarms when there is none to post.
  void ScheduleNext() {
    const double sample_rate = SampleRate();
    const double wanted = m_rate;
    m_armed = false;
    if (!(wanted > 0.0) || !(sample_rate > 0.0)) return;  // NaN, zero and negative rates included
    const double rate = wanted < sample_rate ? wanted : sample_rate;
    const double frame = floor(static_cast<double>(m_k) * sample_rate / rate);
    if (!(frame <= static_cast<double>(UINT32_MAX - m_start))) return;  // past the clock's end
    m_next = m_start + static_cast<uint32_t>(frame);
    m_armed = true;
    ScheduleCall(m_next, MemberCall<&Pulse::Fire>());
  }

  float m_rate = 1.0f;    // "Rate", pulses per second: written by the host at the clock of a change
  float m_level = 0.0f;   // what Process writes: 1.0 from a pulse to its end
  float* m_out = nullptr; // the output's buffer
  uint32_t m_start = 0;   // t0, the clock the sequence counts from
  uint64_t m_k = 0;       // the number of the next pulse
  uint32_t m_next = 0;    // its clock
  uint32_t m_last_pulse = 0;  // the clock of the last pulse fired
  bool m_armed = false;   // a pulse is scheduled at m_next
};

constexpr SEModuleEntry kModules[] = {
    SEModuleEntryOf<Pulse>("Pulse", "SE Example Pulse", "One-sample pulses, \"Rate\" per second.", 0)};

}  // namespace

SE_MODULE_EXPORTS(kModules)
