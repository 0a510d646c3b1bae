#pragma once
// One module of a loaded library, run in the stand-in host the way a host
// runs it: properties, the audio half with its pins, the GUI half, pin
// changes. Every call into the library goes through here, so an observer sees
// all of them, makeModule and getModuleProperties included.

#include <stdint.h>

#include <string>
#include <vector>

#include "CallObserver.h"
#include "ModuleLibrary.h"
#include "AudioEngine.h"
#include "StandInHost.h"

namespace semhost {

// Pins are read until the module's first false, at most this many.
constexpr int32_t kMaxPins = 1024;

class Session {
 public:
  // `library` must outlive the session; so must `observer`, which sees every call.
  Session(const sehost::ModuleLibrary& library, int32_t module_index, CallObserver* observer = nullptr,
          int32_t host_context = 0x5EC0DE);
  ~Session();  // closes the halves that are open
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  sehost::StandInHost& host() { return m_host; }
  int32_t module_index() const { return m_module_index; }

  // getModuleProperties(index, properties), traced.
  int32_t GetProperties(int32_t index, ModuleProperties* properties);
  // makeModule for each half, traced; null when the module refused.
  AudioRecord* CreateAudio();
  GuiRecord* CreateGui();

  // What a host does before the user sees the module: creates the audio half,
  // reads its pins, sets sample rate and block size, gives it a pin count and
  // buffers for its audio-side pins, opens it, then creates the GUI half.
  // False with `error` set when a half could not be created.
  bool Start(std::string* error, float sample_rate = 44100.0f, int32_t block_size = 1024);
  // The same without the GUI half, for work that needs none (a module may
  // make none): ReadAudioPins, then OpenAudio.
  bool StartAudio(std::string* error, float sample_rate = 44100.0f, int32_t block_size = 1024);
  // Start's steps: creates the audio half and reads its pins (false with
  // `error` when the module makes no audio half); then sets the sample rate
  // and block size, gives the host its pins (through `engine`, which lays
  // them out, when given; else one per audio-side declaration) and opens it.
  bool ReadAudioPins(std::string* error);
  void OpenAudio(float sample_rate, int32_t block_size, sehost::AudioEngine* engine = nullptr);
  const std::vector<SEPinProperties>& pins() const { return m_pins; }
  bool pins_cut() const { return m_pins_cut; }  // the module describes more than kMaxPins
  int32_t block_size() const { return m_block_size; }

  // The user changes a pin: the host stores the value, then tells the GUI half.
  void SetPin(int32_t pin, uint32_t bits);
  void Change(int32_t pin, uint32_t bits) {
    SetPin(pin, bits);
    m_host.NotifyGui(pin);
  }
  uint32_t PinBits(int32_t pin) const { return m_host.PinBits(pin); }

  // Closes the GUI half, then the audio half.
  void Stop();

 private:
  const sehost::ModuleLibrary& m_library;
  int32_t m_module_index;
  CallObserver* m_observer;
  sehost::StandInHost m_host;
  std::vector<SEPinProperties> m_pins;
  bool m_pins_cut = false;
  int32_t m_block_size = 1024;
};

// How many audio-side pins a host reports for these declarations: one per
// pin with an audio side (HC_GET_PIN_COUNT counts no GUI-only pin).
int32_t AudioPinCount(const std::vector<SEPinProperties>& pins);

}  // namespace semhost
