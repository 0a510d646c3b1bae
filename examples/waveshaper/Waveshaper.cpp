// Waveshaper: applies cos, sin, sqrt or tan to every sample, as the
// enumerated pin "Mode" chooses. "Mode" is shared by both halves
// (IO_UI_COMMUNICATION | IO_UI_AND_DSP): the audio half shapes the signal
// with it, the GUI half shows on "Preview" what the chosen function makes of
// 0.5. Each function is computed in double and rounded to float once.
//
// Pins (declaration index; the audio side skips the GUI-only "Preview"):
//   0 "Mode"    DR_IN  DT_ENUM     "cos,sin,sqrt,tan", both halves; audio pin 0, held in m_mode
//   1 "Input"   DR_IN  DT_FSAMPLE  audio pin 1
//   2 "Output"  DR_OUT DT_FSAMPLE  audio pin 2
//   3 "Preview" DR_OUT DT_FLOAT    GUI half only
//
// The audio half keeps one process function per mode (Shape<Function>), so
// the choice is made once per change of "Mode", not once per sample; a mode
// outside the list writes silence.

#include <math.h>
#include <stdint.h>

#include "SEGUI_base.h"
#include "SEModuleEntry.h"
#include "SEModule_base.h"

namespace {

enum Pin : int32_t { kMode, kInput, kOutput, kPreview };
// The audio-side indices: "Preview" has no audio side and is not counted.
constexpr int32_t kAudioMode = 0, kAudioInput = 1, kAudioOutput = 2;

double Cos(double x) { return cos(x); }
double Sin(double x) { return sin(x); }
double Sqrt(double x) { return sqrt(x); }
double Tan(double x) { return tan(x); }

// The functions in the order of the choices. A host writes a choice's value;
// this list gives no explicit values, so each value is the choice's position.
typedef double (*Function)(double);
constexpr Function kFunctions[] = {&Cos, &Sin, &Sqrt, &Tan};
constexpr int32_t kModes = 4;

// The chosen function, or null for a value outside the list.
Function FunctionOf(int32_t mode) { return mode >= 0 && mode < kModes ? kFunctions[mode] : nullptr; }

class WaveshaperAudio : public SEModule_base {
 public:
  using SEModule_base::SEModule_base;

  bool GetPinProperties(int32_t index, SEPinProperties* properties) override {
    switch (index) {
      case kMode:
        properties->name = "Mode";
        properties->direction = DR_IN;
        properties->datatype = DT_ENUM;
        properties->datatype_extra = "cos,sin,sqrt,tan";
        // Seen by both halves, and stored with the patch.
        properties->flags = IO_UI_COMMUNICATION | IO_UI_AND_DSP | IO_PATCH_STORE;
        properties->variable_address = &m_mode;
        return true;
      case kInput:
      case kOutput:
        properties->name = index == kInput ? "Input" : "Output";
        properties->direction = index == kInput ? DR_IN : DR_OUT;
        properties->datatype = DT_FSAMPLE;
        return true;
      case kPreview:
        properties->name = "Preview";
        properties->direction = DR_OUT;
        properties->datatype = DT_FLOAT;
        properties->flags = IO_UI_COMMUNICATION;  // GUI only: no audio-side pin
        return true;
      default:
        return false;
    }
  }

  void Open() override {
    ChooseProcess();
    SEModule_base::Open();
    // Both buffers stay put for the run; without both pins there is nothing to shape.
    m_in = PinCount() > kAudioOutput ? GetPin(kAudioInput)->SampleBuffer() : nullptr;
    m_out = PinCount() > kAudioOutput ? GetPin(kAudioOutput)->SampleBuffer() : nullptr;
  }

  // The host wrote a new "Mode" (status 1 on audio pin 0).
  void OnPinStatusChange(SEPin* pin) override {
    if (pin->Index() == kAudioMode) ChooseProcess();
  }

  // out = F(in) for the frames [offset, offset + frames).
  template <Function F>
  void Shape(int32_t offset, int32_t frames) {
    const float* in = m_in;
    float* out = m_out;
    if (!in || !out) return;
    for (int32_t i = offset; i < offset + frames; ++i) out[i] = static_cast<float>(F(in[i]));
  }

  void Silence(int32_t offset, int32_t frames) {
    if (!m_out) return;
    for (int32_t i = offset; i < offset + frames; ++i) m_out[i] = 0.0f;
  }

 private:
  // An enumerated value is 16 bits; m_mode has room for 32 whichever width
  // the host writes, and starts at 0 so the upper half stays clear.
  int32_t Mode() const { return static_cast<int16_t>(m_mode & 0xFFFF); }

  void ChooseProcess() {
    switch (Mode()) {
      case 0: return SetProcessFunction(ProcessFunction<&WaveshaperAudio::Shape<&Cos>>());
      case 1: return SetProcessFunction(ProcessFunction<&WaveshaperAudio::Shape<&Sin>>());
      case 2: return SetProcessFunction(ProcessFunction<&WaveshaperAudio::Shape<&Sqrt>>());
      case 3: return SetProcessFunction(ProcessFunction<&WaveshaperAudio::Shape<&Tan>>());
      default: return SetProcessFunction(ProcessFunction<&WaveshaperAudio::Silence>());
    }
  }

  int32_t m_mode = 0;          // "Mode": written by the host at the clock of a change
  const float* m_in = nullptr;  // the input's buffer
  float* m_out = nullptr;       // the output's buffer
};

class WaveshaperGui : public SEGUI_base {
 public:
  using SEGUI_base::SEGUI_base;

  // The host changed a pin the GUI half sees; only "Mode" matters here.
  // GetPin hands out one shared handle: read first, then take it to write.
  void OnPinValueChange(GuiPin* pin) override {
    if (pin->m_index != kMode) return;
    const Function f = FunctionOf(GetPin(kMode)->GetValueInt());
    if (f) GetPin(kPreview)->SetValueFloat(static_cast<float>(f(0.5)));
  }
};

constexpr SEModuleEntry kModules[] = {SEModuleEntryOf<WaveshaperAudio, WaveshaperGui>(
    "Waveshaper", "SE Example Waveshaper", "cos, sin, sqrt or tan of every sample, as \"Mode\" chooses.", 0)};

}  // namespace

SE_MODULE_EXPORTS(kModules)
