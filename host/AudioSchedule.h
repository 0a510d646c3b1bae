#pragma once
// The audio side of a host's run, for one audio half: the audio-side pins
// with their sample buffers, the sample clock and the block start, the events
// the module posts and those the host sends itself, and the processing of a
// block split at every due event. The host answers the audio half's
// HC_GET_PIN_COUNT, HC_GET_PIN_BUFFER, HC_GET_SAMPLE_CLOCK,
// HC_GET_BLOCK_START and HC_ADD_EVENT from here; the calls into the half go
// through the AudioHalfCalls it was made with.

#include <stdint.h>

#include <functional>
#include <map>
#include <vector>

#include "SEEvent.h"

namespace sehost {

// The calls a schedule makes into the audio half it runs. StandInHost
// provides them, each checked against the half's state and traced.
class AudioHalfCalls {
 public:
  // Whether there is an audio half to call (made and not closed).
  virtual bool HasAudioHalf() const = 0;
  // One call of process_function for the frames [offset, offset + frames).
  virtual void CallProcess(int32_t buffer_offset, int32_t sample_frames) = 0;
  // Hands one event to event_function now.
  virtual void DeliverEvent(const SEEvent& event) = 0;

 protected:
  ~AudioHalfCalls() = default;
};

class AudioSchedule {
 public:
  // `half` must outlive the schedule.
  explicit AudioSchedule(AudioHalfCalls& half) : m_half(half) {}
  AudioSchedule(const AudioSchedule&) = delete;
  AudioSchedule& operator=(const AudioSchedule&) = delete;

  // ---- pins and buffers ----
  // The audio-side pins: how many the host reports (HC_GET_PIN_COUNT), each
  // with a sample buffer of `frames` floats (HC_GET_PIN_BUFFER).
  void SetAudioPinCount(int32_t count, int32_t frames = 1024);
  int32_t audio_pin_count() const { return m_audio_pin_count; }
  // The buffer of an audio-side pin; the pin must be one of the count.
  std::vector<float>& PinBuffer(int32_t audio_pin) { return m_buffers.at(static_cast<size_t>(audio_pin)); }
  // The buffer's first sample, or null for a pin the host does not have.
  float* BufferAddress(int32_t audio_pin);

  // ---- the clock ----
  void SetSampleClock(uint32_t clock) { m_clock = clock; }
  uint32_t sample_clock() const { return m_clock; }
  // The clock of the first sample of the block RunBlock ran last.
  uint32_t block_start() const { return m_block_start; }

  // ---- events ----
  // Keeps a copy of an event the module posts (HC_ADD_EVENT), due at its time stamp.
  void PostModuleEvent(const SEEvent& event);
  // Forgets the module's events: a closed audio half's events name its members.
  void DropModuleEvents() { m_events.clear(); }
  // Events the module posted and not yet handed back, in posting order.
  // The answer stays valid until the next call.
  const std::vector<SEEvent>& PendingEvents() const;
  // An event the host itself sends the audio half (a pin status, a control
  // change), due at its time stamp. RunBlock splits at it like at the
  // module's events; at its clock it is handed back before the events the
  // module posted for that clock, host events in the order posted. `before`
  // (may be empty) runs just before the delivery: a control change writes the
  // pin's variable there.
  void PostHostEvent(const SEEvent& event, std::function<void()> before = nullptr);

  // Processes `frames` samples as a host does: at each clock it first hands
  // back the events due then (in posting order), and calls process_function
  // for the runs between events; the clock advances by `frames`. An event that
  // a process call posts inside its own run, or at its start, cuts the run
  // there: the clock stops at the event, the event is handed back at its
  // exact clock, and the rest of the block is processed again from that
  // frame (the call's output past it is overwritten). A run is cut at its
  // start once per clock: if the repeated run posts at its start again, those
  // events are handed back after it, at that clock, and the run stands.
  // Without an audio half it does nothing but set the block start.
  void RunBlock(int32_t frames);

  // ---- quiet blocks (AudioEngine::ProcessQuiet) ----
  // Neither queue holds an event: a block can be run as one process call.
  bool NothingQueued() const { return m_events.empty() && m_host_events.empty(); }
  // A block the caller runs itself, with nothing queued before it: it starts
  // at the clock, its one call covers it whole, then EndQuietBlock.
  void BeginQuietBlock() { m_block_start = m_clock; }
  // After the caller's call of [0, frames): the clock passes the block, or,
  // when the call posted events, the block goes on as RunBlock would have
  // gone on after that call.
  void EndQuietBlock(int32_t frames) {
    if (NothingQueued()) {
      m_clock += static_cast<uint32_t>(frames);
    } else {
      FinishBlock(frames);
    }
  }

 private:
  // Where RunBlock is in its block.
  struct BlockRun {
    int32_t frames;
    int32_t offset = 0;
    bool restarted_here = false;  // a run at this clock was already cut at its start
  };
  // Runs the block from where `block` stands to its end.
  void ContinueBlock(BlockRun& block);
  // After the call of [offset, offset + run): cuts the run at an event the
  // call posted inside it, advances the clock; false once the block is done.
  bool AfterRun(BlockRun& block, uint32_t run);
  void FinishBlock(int32_t frames);
  // RunBlock's steps: hand back every event due at the clock; the frames from
  // the clock to the nearest pending event at least `from` frames ahead, at
  // most `limit`.
  void DeliverDueEvents();
  uint32_t FramesBeforeNextEvent(uint32_t limit, uint32_t from) const;

  AudioHalfCalls& m_half;
  std::vector<std::vector<float>> m_buffers;
  int32_t m_audio_pin_count = 0;
  uint32_t m_clock = 0;
  uint32_t m_block_start = 0;
  // Both queues are keyed by time stamp; a multimap keeps equal keys in
  // insertion order, so at one clock events come in posting order. Finding,
  // taking and posting an event cost O(log n) however many are pending.
  struct PostedEvent {
    uint64_t number;  // posting order, for PendingEvents
    SEEvent event;
  };
  std::multimap<uint32_t, PostedEvent> m_events;
  uint64_t m_posted = 0;
  mutable std::vector<SEEvent> m_pending;  // PendingEvents' answer
  struct HostEvent {
    SEEvent event;
    std::function<void()> before;
  };
  std::multimap<uint32_t, HostEvent> m_host_events;
};

}  // namespace sehost
