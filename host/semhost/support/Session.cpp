#include "Session.h"

#include <string.h>

#include "CallObserver.h"

namespace semhost {

int32_t AudioPinCount(const std::vector<SEPinProperties>& pins) {
  int32_t count = 0;
  for (const SEPinProperties& pin : pins) count += SEPinHasAudioSide(pin) ? 1 : 0;
  return count;
}

Session::Session(const sehost::ModuleLibrary& library, int32_t module_index, CallObserver* observer, int32_t host_context)
    : m_library(library), m_module_index(module_index), m_observer(observer), m_host(host_context) {
  m_host.SetWatcher(m_observer);
}

Session::~Session() {
  Stop();
  m_host.SetWatcher(nullptr);  // the host's own end (closing what is left) is not the observer's
}

int32_t Session::GetProperties(int32_t index, ModuleProperties* properties) {
  if (m_observer) m_observer->LibraryCallStarted("getModuleProperties index=" + std::to_string(index));
  const int32_t answer = m_library.getModuleProperties()(index, properties);
  if (m_observer) m_observer->LibraryCallReturned(std::to_string(answer));
  return answer;
}

AudioRecord* Session::CreateAudio() {
  if (m_observer) m_observer->LibraryCallStarted("makeModule index=" + std::to_string(m_module_index) + " type=1");
  AudioRecord* record = m_host.CreateAudio(m_library.makeModule(), m_module_index);
  if (m_observer) m_observer->LibraryCallReturned(record ? "audio" : "null");
  return record;
}

GuiRecord* Session::CreateGui() {
  if (m_observer) m_observer->LibraryCallStarted("makeModule index=" + std::to_string(m_module_index) + " type=2");
  GuiRecord* record = m_host.CreateGui(m_library.makeModule(), m_module_index);
  if (m_observer) m_observer->LibraryCallReturned(record ? "gui" : "null");
  return record;
}

bool Session::ReadAudioPins(std::string* error) {
  if (!CreateAudio()) {
    *error = "makeModule(" + std::to_string(m_module_index) + ", 1) answered null: the module made no audio half";
    return false;
  }
  m_pins = m_host.QueryPins(kMaxPins + 1);
  m_pins_cut = m_pins.size() > static_cast<size_t>(kMaxPins);
  if (m_pins_cut) m_pins.resize(static_cast<size_t>(kMaxPins));
  return true;
}

void Session::OpenAudio(float sample_rate, int32_t block_size, sehost::AudioEngine* engine) {
  m_block_size = block_size;
  m_host.AudioDispatch(OP_SET_SAMPLE_RATE, 0, 0, nullptr, sample_rate);
  m_host.AudioDispatch(OP_SET_BLOCK_SIZE, 0, block_size);
  if (engine) {
    engine->Prepare(block_size);
  } else {
    sehost::AudioEngine(m_host, m_pins, 1).Prepare(block_size);  // one pin per audio-side declaration
  }
  m_host.AudioDispatch(OP_OPEN);
}

bool Session::StartAudio(std::string* error, float sample_rate, int32_t block_size) {
  if (!ReadAudioPins(error)) return false;
  OpenAudio(sample_rate, block_size);
  return true;
}

bool Session::Start(std::string* error, float sample_rate, int32_t block_size) {
  if (!StartAudio(error, sample_rate, block_size)) return false;
  if (!CreateGui()) {
    *error = "makeModule(" + std::to_string(m_module_index) + ", 2) answered null: the module made no GUI half";
    return false;
  }
  return true;
}

void Session::SetPin(int32_t pin, uint32_t bits) { m_host.SetPinBits(pin, bits); }

void Session::Stop() {
  m_host.CloseGui();
  m_host.CloseAudio();
}

}  // namespace semhost
