#pragma once
// An offline render of one example module through the stand-in host, with
// the host's audio conventions:
// - every audio-side pin has a buffer of one block of floats at a fixed
//   address; input buffers are filled before a block, outputs read after it;
// - the block is split at every due event (the host's own and the module's),
//   and process_function gets (offset, frames) with the clock at the run's
//   start, so nothing happens between two samples;
// - a control change at frame t writes the value into the pin's declared
//   variable at clock t, then delivers EVT_PIN_STATUS with status 1;
// - a status event for a sample input (2 streaming, 0 silence follows) at
//   any frame;
// - events the module posts come back at their exact clock, in posting
//   order, after the host's own events of that clock. An event a process
//   call posts inside its own run cuts the run there, as RunBlock does.
// It drives the halves through StandInHost's CallProcess and DeliverEvent and
// keeps its own queue: the module's events are taken from the host schedule's PendingEvents,
// which only grows while RunBlock is not used. HC_GET_BLOCK_START is not
// served (the examples address their buffers by the run's offset).

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "ModuleLibrary.h"
#include "SEPinProperties.h"
#include "StandInHost.h"

namespace setest {

class ExampleRun {
 public:
  // Loads the module library at `path` and makes its audio half (index 0),
  // with `audio_pins` audio-side pins, before opening it (Open).
  ExampleRun(const std::string& path, int32_t audio_pins, int32_t block_size, float sample_rate);
  ~ExampleRun();

  // Sample input `audio_pin` reads `samples` from frame 0 and silence after
  // them; it streams (status 2) from frame 0 and reports silence (status 0)
  // where the samples end.
  void Feed(int32_t audio_pin, std::vector<float> samples);
  // A status event for `audio_pin` at `frame`.
  void Status(uint32_t frame, int32_t audio_pin, int32_t status);
  // A control change of declared pin `pin` at `frame`: the value's 4 bytes
  // (2 for DT_ENUM, the width of an enumerated value) go to its variable.
  void Set(uint32_t frame, int32_t pin, float value);
  void SetInt(uint32_t frame, int32_t pin, int32_t value);

  // Sends OP_OPEN (after the first Feed/Set/Status calls are queued: a value
  // set at frame 0 before Open is written before Open runs).
  void Open();
  // Renders `frames` frames; answers the samples of each audio pin in `outputs`.
  std::vector<std::vector<float>> Render(uint32_t frames, const std::vector<int32_t>& outputs);

  sehost::StandInHost& host() { return *m_host; }

 private:
  struct HostEvent {
    uint32_t frame;
    int32_t audio_pin;
    int32_t status;
    void* variable;  // written first when not null
    uint32_t bits;
    size_t width;
  };
  void Queue(const HostEvent& event);
  void Harvest();
  void DeliverDue();
  uint32_t Distance(uint32_t limit, uint32_t from) const;

  std::unique_ptr<sehost::ModuleLibrary> m_library;
  std::unique_ptr<sehost::StandInHost> m_host;
  std::vector<SEPinProperties> m_pins;
  std::vector<int32_t> m_audio_index;  // declared pin → audio-side index, -1 for GUI-only pins
  int32_t m_block_size;
  uint32_t m_clock = 0;
  std::vector<HostEvent> m_host_events;  // by frame, then in the order given
  size_t m_next_host = 0;
  std::vector<SEEvent> m_module_events;  // posted, not yet handed back, in posting order
  size_t m_seen = 0;                     // PendingEvents already taken into m_module_events
  std::vector<std::vector<float>> m_inputs;  // per audio pin; empty for a pin not fed
};

}  // namespace setest
