#include "AudioSchedule.h"

#include <algorithm>
#include <utility>

namespace sehost {

void AudioSchedule::SetAudioPinCount(int32_t count, int32_t frames) {
  m_audio_pin_count = count;
  m_buffers.assign(count > 0 ? static_cast<size_t>(count) : 0, std::vector<float>(static_cast<size_t>(frames)));
}

float* AudioSchedule::BufferAddress(int32_t audio_pin) {
  if (audio_pin < 0 || static_cast<size_t>(audio_pin) >= m_buffers.size()) return nullptr;
  return m_buffers[static_cast<size_t>(audio_pin)].data();
}

void AudioSchedule::PostModuleEvent(const SEEvent& event) {
  SEEvent copy = event;
  copy.next = nullptr;
  // Events mostly come in time order: the hint makes those an append, and
  // any other goes where its time stamp puts it, after its equals.
  m_events.emplace_hint(m_events.end(), copy.time_stamp, PostedEvent{m_posted++, copy});
}

void AudioSchedule::PostHostEvent(const SEEvent& event, std::function<void()> before) {
  SEEvent copy = event;
  copy.next = nullptr;
  m_host_events.emplace_hint(m_host_events.end(), copy.time_stamp, HostEvent{copy, std::move(before)});
}

const std::vector<SEEvent>& AudioSchedule::PendingEvents() const {
  std::vector<const PostedEvent*> posted;
  posted.reserve(m_events.size());
  for (const auto& e : m_events) posted.push_back(&e.second);
  std::sort(posted.begin(), posted.end(), [](const PostedEvent* a, const PostedEvent* b) { return a->number < b->number; });
  m_pending.clear();
  for (const PostedEvent* e : posted) m_pending.push_back(e->event);
  return m_pending;
}

namespace {

// The first event at or after `clock`: usually the earliest of all, found
// without a walk down the tree (which, with many events, misses the cache at
// every level).
template <class Queue>
auto FirstAtOrAfter(Queue& queue, uint32_t clock) {
  if (!queue.empty() && queue.begin()->first >= clock) return queue.begin();
  return queue.lower_bound(clock);
}

}  // namespace

void AudioSchedule::DeliverDueEvents() {
  // The host's own events first, then the module's; each in posting order.
  // Events posted meanwhile join their queue.
  for (;;) {
    if (m_host_events.empty() && m_events.empty()) return;  // the usual block: nothing due
    if (!m_half.HasAudioHalf()) return;
    const auto host_due = FirstAtOrAfter(m_host_events, m_clock);  // the first of its key
    if (host_due != m_host_events.end() && host_due->first == m_clock) {
      HostEvent event = std::move(host_due->second);
      m_host_events.erase(host_due);
      if (event.before) event.before();
      m_half.DeliverEvent(event.event);
      continue;
    }
    const auto due = FirstAtOrAfter(m_events, m_clock);
    if (due == m_events.end() || due->first != m_clock) return;
    const SEEvent event = due->second.event;
    m_events.erase(due);
    m_half.DeliverEvent(event);
  }
}

uint32_t AudioSchedule::FramesBeforeNextEvent(uint32_t limit, uint32_t from) const {
  // Unsigned distances, so the clock may wrap; an event before the clock is
  // never due again until the clock wraps. The nearest event at least `from`
  // ahead is the first at or after clock + from, else (wrapping) the first.
  uint32_t frames = limit;
  if (m_events.empty() && m_host_events.empty()) return frames;
  const uint32_t target = m_clock + from;
  const auto nearest = [&](const auto& queue) {
    if (queue.empty()) return;
    auto next = FirstAtOrAfter(queue, target);
    if (next == queue.end()) next = queue.begin();
    const uint32_t distance = next->first - m_clock;
    if (distance >= from && distance < frames) frames = distance;
  };
  nearest(m_events);
  nearest(m_host_events);
  return frames;
}

void AudioSchedule::RunBlock(int32_t frames) {
  m_block_start = m_clock;
  BlockRun block{frames};
  ContinueBlock(block);
}

void AudioSchedule::FinishBlock(int32_t frames) {
  BlockRun block{frames};
  if (AfterRun(block, static_cast<uint32_t>(frames))) ContinueBlock(block);
}

void AudioSchedule::ContinueBlock(BlockRun& block) {
  // With nothing queued (the usual block) both event steps are skipped: each
  // would answer at once, but only after its set-up.
  while (m_half.HasAudioHalf()) {
    if (!NothingQueued()) DeliverDueEvents();
    const int32_t remaining = block.frames - block.offset;
    if (remaining <= 0 || !m_half.HasAudioHalf()) break;
    // The run ends at the next event due inside this block, or at its end.
    const uint32_t run =
        NothingQueued() ? static_cast<uint32_t>(remaining) : FramesBeforeNextEvent(static_cast<uint32_t>(remaining), 1);
    m_half.CallProcess(block.offset, static_cast<int32_t>(run));
    if (!AfterRun(block, run)) break;
  }
}

bool AudioSchedule::AfterRun(BlockRun& block, uint32_t run) {
  // An event the call posted inside its own run cuts the run there: the
  // clock stops at the event, which is handed back at its exact clock, and
  // the rest of the block is processed again from that frame.
  uint32_t done = NothingQueued() ? run : FramesBeforeNextEvent(run, 0);
  if (done == 0) {
    if (!block.restarted_here) {
      block.restarted_here = true;  // deliver at this clock, then process the run again
      return true;
    }
    // The repeated run posted at its start again: hand those events back now
    // and let the run stand, so every block ends.
    DeliverDueEvents();
    done = FramesBeforeNextEvent(run, 1);
  }
  block.restarted_here = false;
  m_clock += done;
  block.offset += static_cast<int32_t>(done);
  return block.offset < block.frames || !NothingQueued();  // done once nothing is due at its end
}

}  // namespace sehost
