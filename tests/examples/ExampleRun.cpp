#include "ExampleRun.h"

#include <string.h>

#include <algorithm>
#include <stdexcept>

namespace setest {

ExampleRun::ExampleRun(const std::string& path, int32_t audio_pins, int32_t block_size, float sample_rate)
    : m_library(std::make_unique<sehost::ModuleLibrary>(path)),
      m_host(std::make_unique<sehost::StandInHost>()),
      m_block_size(block_size),
      m_inputs(static_cast<size_t>(audio_pins)) {
  if (!m_library->ok()) throw std::runtime_error(m_library->error());
  m_host->schedule().SetAudioPinCount(audio_pins, block_size);
  if (!m_host->CreateAudio(m_library->makeModule())) throw std::runtime_error("no audio half");
  m_pins = m_host->QueryPins();
  int32_t audio = 0;
  for (const SEPinProperties& pin : m_pins) {
    const bool audio_side = (pin.flags & IO_UI_COMMUNICATION) == 0 || (pin.flags & IO_UI_AND_DSP) != 0;
    m_audio_index.push_back(audio_side ? audio++ : -1);
  }
  m_host->AudioDispatch(OP_SET_SAMPLE_RATE, 0, 0, nullptr, sample_rate);
  m_host->AudioDispatch(OP_SET_BLOCK_SIZE, 0, block_size);
}

ExampleRun::~ExampleRun() { m_host->CloseAudio(); }  // before the library goes

void ExampleRun::Feed(int32_t audio_pin, std::vector<float> samples) {
  Status(0, audio_pin, 2);
  Status(static_cast<uint32_t>(samples.size()), audio_pin, 0);
  m_inputs.at(static_cast<size_t>(audio_pin)) = std::move(samples);
}

void ExampleRun::Status(uint32_t frame, int32_t audio_pin, int32_t status) {
  Queue({frame, audio_pin, status, nullptr, 0, 0});
}

void ExampleRun::Set(uint32_t frame, int32_t pin, float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  SetInt(frame, pin, static_cast<int32_t>(bits));
}

void ExampleRun::SetInt(uint32_t frame, int32_t pin, int32_t value) {
  const SEPinProperties& properties = m_pins.at(static_cast<size_t>(pin));
  if (!properties.variable_address) throw std::runtime_error("the pin declares no variable: a host cannot set it");
  const size_t width = properties.datatype == DT_ENUM ? 2 : 4;
  Queue({frame, m_audio_index.at(static_cast<size_t>(pin)), 1, properties.variable_address,
         static_cast<uint32_t>(value), width});
}

void ExampleRun::Queue(const HostEvent& event) {
  const auto at = std::upper_bound(m_host_events.begin(), m_host_events.end(), event.frame,
                                   [](uint32_t frame, const HostEvent& e) { return frame < e.frame; });
  m_host_events.insert(at, event);
}

void ExampleRun::Open() { m_host->AudioDispatch(OP_OPEN); }

void ExampleRun::Harvest() {
  const std::vector<SEEvent>& posted = m_host->schedule().PendingEvents();
  for (; m_seen < posted.size(); ++m_seen) m_module_events.push_back(posted[m_seen]);
}

void ExampleRun::DeliverDue() {
  for (;;) {
    Harvest();
    if (m_next_host < m_host_events.size() && m_host_events[m_next_host].frame == m_clock) {
      const HostEvent& e = m_host_events[m_next_host++];
      if (e.variable) memcpy(e.variable, &e.bits, e.width);  // little-endian: the low bytes
      SEEvent status = {m_clock, EVT_PIN_STATUS, e.status, 0, e.audio_pin, nullptr};
      m_host->DeliverEvent(status);
      continue;
    }
    const auto due = std::find_if(m_module_events.begin(), m_module_events.end(),
                                  [this](const SEEvent& e) { return e.time_stamp == m_clock; });
    if (due == m_module_events.end()) return;
    const SEEvent event = *due;
    m_module_events.erase(due);
    m_host->DeliverEvent(event);
  }
}

uint32_t ExampleRun::Distance(uint32_t limit, uint32_t from) const {
  uint32_t frames = limit;
  auto consider = [&](uint32_t time) {
    const uint32_t distance = time - m_clock;
    if (distance >= from && distance < frames) frames = distance;
  };
  if (m_next_host < m_host_events.size()) consider(m_host_events[m_next_host].frame);
  for (const SEEvent& e : m_module_events) consider(e.time_stamp);
  return frames;
}

std::vector<std::vector<float>> ExampleRun::Render(uint32_t frames, const std::vector<int32_t>& outputs) {
  std::vector<std::vector<float>> rendered(outputs.size());
  const uint32_t block = static_cast<uint32_t>(m_block_size);
  for (uint32_t start = m_clock; m_clock - start < frames;) {
    const uint32_t n = std::min(block, frames - (m_clock - start));
    for (size_t pin = 0; pin < m_inputs.size(); ++pin) {
      const std::vector<float>& in = m_inputs[pin];
      if (in.empty()) continue;
      std::vector<float>& buffer = m_host->schedule().PinBuffer(static_cast<int32_t>(pin));
      for (uint32_t i = 0; i < n; ++i) buffer[i] = m_clock + i < in.size() ? in[m_clock + i] : 0.0f;
    }
    uint32_t offset = 0;
    bool restarted = false;  // the run at this clock was cut at its start once already
    for (;;) {
      if (offset == n) break;  // events at the next block's clock wait for that block
      DeliverDue();
      const uint32_t run = Distance(n - offset, 1);
      m_host->CallProcess(static_cast<int32_t>(offset), static_cast<int32_t>(run));
      Harvest();
      uint32_t done = Distance(run, 0);
      if (done == 0) {
        if (!restarted) {
          restarted = true;
          continue;
        }
        DeliverDue();
        done = Distance(run, 1);
      }
      restarted = false;
      m_clock += done;
      m_host->schedule().SetSampleClock(m_clock);
      offset += done;
    }
    for (size_t k = 0; k < outputs.size(); ++k) {
      const std::vector<float>& buffer = m_host->schedule().PinBuffer(outputs[k]);
      rendered[k].insert(rendered[k].end(), buffer.begin(), buffer.begin() + n);
    }
  }
  return rendered;
}

}  // namespace setest
