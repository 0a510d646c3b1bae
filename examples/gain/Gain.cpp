// Gain: a stream processor. Every input channel, multiplied by the control
// "Gain", goes to its output channel, sample-accurately; while every input is
// silent the module writes silence once and then does no work at all.
//
// Pins (audio-side index = declaration index: every pin has an audio side):
//   0 "Gain"    DR_IN  DT_FLOAT    the factor, held in m_gain
//   1 "Input"   DR_IN  DT_FSAMPLE  \  one channel: the pair repeats, so pin
//   2 "Output"  DR_OUT DT_FSAMPLE  /  1 + 2c is channel c's input, 2 + 2c its output
//
// Only the last declared pin can repeat, yet the outputs must match the
// inputs for any channel count. So the channel is a pair, "Input" then
// "Output", both flagged IO_REPEATING, and a host repeats the pair as a unit
// for each further channel (pin count 1 + 2 × channels). The framework binds
// every repeated pin with the last declaration's datatype, DT_FSAMPLE for
// both members of the pair, so each repeat gets a host buffer of its own.
//
// How the host drives it (the stand-in host's conventions):
// - A control change at frame t: at clock t the host writes the value into
//   m_gain (the pin's variable_address) and delivers EVT_PIN_STATUS status 1
//   for pin 0. Process reads m_gain on every run, and the host splits its
//   blocks at every event, so the new gain applies from frame t exactly.
// - A sample input gets status 2 when it starts streaming and status 0 where
//   silence follows. When every input is at 0 the module switches to
//   WriteSilence, which zeroes one block's worth of frames (after that every
//   position of every output buffer holds 0) and then switches to the
//   framework's IdleProcess. A streaming input switches back to Process.
//   Each switch is announced to the host once (SetProcessFunction does).
// - Every sample buffer stays at one address for the whole run, so Open
//   keeps each channel's two buffers and Process reads nothing else.

#include <stdint.h>

#include <vector>

#include "SEModuleEntry.h"
#include "SEModule_base.h"

namespace {

constexpr int32_t kGainPin = 0;
constexpr int32_t kFirstChannelPin = 1;  // channel c: input 1 + 2c, output 2 + 2c

class Gain : public SEModule_base {
 public:
  using SEModule_base::SEModule_base;

  bool GetPinProperties(int32_t index, SEPinProperties* properties) override {
    switch (index) {
      case 0:
        properties->name = "Gain";
        properties->direction = DR_IN;
        properties->datatype = DT_FLOAT;
        properties->variable_address = &m_gain;  // the host writes changes here
        return true;
      case 1:
      case 2:
        properties->name = index == 1 ? "Input" : "Output";
        properties->direction = index == 1 ? DR_IN : DR_OUT;
        properties->datatype = DT_FSAMPLE;
        properties->flags = IO_REPEATING;  // the pair repeats, one per channel
        return true;
      default:
        return false;
    }
  }

  // Choose the process function first, then let the framework bind the pins,
  // then keep every channel's buffers. Until told otherwise the inputs stream.
  void Open() override {
    SetProcessFunction(ProcessFunction<&Gain::Process>());
    SEModule_base::Open();
    m_channels.clear();
    m_channels.reserve(PinCount() > kFirstChannelPin ? static_cast<size_t>(PinCount() - kFirstChannelPin) / 2 : 0);
    for (int32_t pin = kFirstChannelPin; pin + 1 < PinCount(); pin += 2) {
      m_channels.push_back(Channel{GetPin(pin), GetPin(pin)->SampleBuffer(), GetPin(pin + 1)->SampleBuffer()});
    }
    // A host that gave a channel no buffer is answered once, here, not on every call.
    m_live.clear();
    m_live.reserve(m_channels.size());
    for (const Channel& channel : m_channels) {
      if (channel.in && channel.out) m_live.push_back(channel);
    }
  }

  // A status change on an input: switch between processing and silence.
  // Status 1 on "Gain" needs nothing: Process reads m_gain on every run.
  void OnPinStatusChange(SEPin* pin) override {
    const int32_t index = pin->Index();
    if (index == kGainPin || (index - kFirstChannelPin) % 2 != 0) return;  // not an input
    if (AnyInputStreams()) {
      m_silent = false;
      SetProcessFunction(ProcessFunction<&Gain::Process>());
    } else if (!m_silent) {
      m_silent = true;
      m_silence_left = BlockSize();
      SetProcessFunction(ProcessFunction<&Gain::WriteSilence>());
    }
  }

  // The frames [offset, offset + frames) of every channel, at the gain now in force.
  void Process(int32_t offset, int32_t frames) {
    const float gain = m_gain;
    for (const Channel& channel : m_live) {
      const float* in = channel.in;
      float* out = channel.out;
      for (int32_t i = offset; i < offset + frames; ++i) out[i] = in[i] * gain;
    }
  }

  // Zeroes the outputs until one block's worth of frames is written, then idles.
  void WriteSilence(int32_t offset, int32_t frames) {
    for (const Channel& channel : m_channels) {
      if (!channel.out) continue;
      for (int32_t i = offset; i < offset + frames; ++i) channel.out[i] = 0.0f;
    }
    m_silence_left -= frames;
    if (m_silence_left <= 0) SetProcessFunction(&SEModule_base::IdleProcess);
  }

 private:
  struct Channel {
    SEPin* input;      // its status tells whether the channel streams
    const float* in;   // the input's buffer, or null when the host gave none
    float* out;        // the output's buffer, or null
  };

  bool AnyInputStreams() const {
    for (const Channel& channel : m_channels) {
      if (channel.input->Status() != 0) return true;
    }
    return false;
  }

  float m_gain = 1.0f;            // "Gain": written by the host at the clock of a change
  std::vector<Channel> m_channels;  // one per input/output pair the host gave
  std::vector<Channel> m_live;      // those with both buffers: the ones Process runs over
  bool m_silent = false;          // every input at status 0: silence written or being written
  int32_t m_silence_left = 0;     // frames WriteSilence still has to zero
};

// The library holds one module, with an audio half only.
constexpr SEModuleEntry kModules[] = {
    SEModuleEntryOf<Gain>("Gain", "SE Example Gain", "Multiplies every channel by \"Gain\".", 0)};

}  // namespace

SE_MODULE_EXPORTS(kModules)
