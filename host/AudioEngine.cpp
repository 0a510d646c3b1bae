#include "AudioEngine.h"

#include <string.h>

#include <algorithm>

#include "QuietProcessRun.h"

namespace sehost {

namespace {

// Bytes a control change writes into the declared variable; 0: no value.
size_t ValueWidth(int32_t datatype) {
  switch (datatype) {
    case DT_ENUM: return 2;
    case DT_CODE_4: return 1;
    case DT_FLOAT:
    case DT_CODE_8: return 4;
    default: return 0;
  }
}

}  // namespace

int32_t AudioEngine::RepeatingDeclaration(const std::vector<SEPinProperties>& pins) {
  int32_t first = -1;
  for (size_t i = pins.size(); i-- > 0;) {
    const SEPinProperties& p = pins[i];
    if (!SEPinHasAudioSide(p) || (p.flags & IO_REPEATING) == 0) break;
    first = static_cast<int32_t>(i);
  }
  return first;
}

AudioEngine::AudioEngine(StandInHost& host, const std::vector<SEPinProperties>& pins, int32_t repeats)
    : m_host(host), m_schedule(host.schedule()) {
  const int32_t repeating = RepeatingDeclaration(pins);
  const size_t group = repeating < 0 ? pins.size() : static_cast<size_t>(repeating);
  const auto add = [&](size_t i, int32_t copy) {
    const SEPinProperties& p = pins[i];
    if (!SEPinHasAudioSide(p)) return;
    EnginePin pin;
    pin.audio_index = static_cast<int32_t>(m_pins.size());
    pin.declaration = static_cast<int32_t>(i);
    pin.direction = p.direction;
    pin.datatype = p.datatype;
    pin.flags = p.flags;
    pin.variable = copy == 0 ? p.variable_address : nullptr;  // repeats get storage of their own
    pin.repeat = copy > 0;
    m_pins.push_back(pin);
    if (pin.IsSampleInput()) m_inputs.push_back(pin.audio_index);
    if (pin.IsSampleOutput()) m_outputs.push_back(pin.audio_index);
  };
  for (size_t i = 0; i < group; ++i) add(i, 0);
  // The repeating group, copy after copy: for an input/output pair, channel
  // c's input and output are next to each other.
  if (group < pins.size()) {
    for (int32_t copy = 0; copy < std::max<int32_t>(repeats, 1); ++copy) {
      for (size_t i = group; i < pins.size(); ++i) add(i, copy);
    }
  }
  m_feeds.resize(m_inputs.size());
  m_feeds_moved = true;
}

const EnginePin* AudioEngine::PinOfDeclaration(int32_t declaration) const {
  for (const EnginePin& pin : m_pins) {
    if (pin.declaration == declaration && !pin.repeat) return &pin;
  }
  return nullptr;
}

void AudioEngine::Prepare(int32_t block_size) {
  m_block_size = std::max<int32_t>(block_size, 1);
  m_schedule.SetAudioPinCount(static_cast<int32_t>(m_pins.size()), m_block_size);
  m_schedule.SetSampleClock(0);
  // The buffers stay where they are for the run: Process and Output keep their addresses.
  m_input_buffers.clear();
  m_output_buffers.clear();
  for (int32_t input : m_inputs) m_input_buffers.push_back(m_schedule.PinBuffer(input).data());
  for (int32_t output : m_outputs) m_output_buffers.push_back(m_schedule.PinBuffer(output).data());
  // A sample pin's variable holds its buffer's address (the framework reads
  // the buffer through it), so the host writes the address there.
  for (const EnginePin& pin : m_pins) {
    if (pin.datatype != DT_FSAMPLE || !pin.variable) continue;
    float* buffer = m_schedule.PinBuffer(pin.audio_index).data();
    memcpy(pin.variable, &buffer, sizeof buffer);
  }
}

void AudioEngine::Stream(size_t input, const float* samples, int64_t frames, size_t stride) {
  if (input >= m_feeds.size()) return;
  m_feeds[input] = Feed{samples, frames, std::max<size_t>(stride, 1)};
  m_feeds_moved = true;
  const intptr_t pin = m_inputs[input];
  m_changes.push_back(Change{0, SEEvent{0, EVT_PIN_STATUS, 2, 0, pin, nullptr}, nullptr});
  if (frames >= 0 && frames <= UINT32_MAX) {
    const uint32_t end = static_cast<uint32_t>(frames);
    m_changes.push_back(Change{end, SEEvent{end, EVT_PIN_STATUS, 0, 0, pin, nullptr}, nullptr});
  }
  m_sorted = false;
}

void AudioEngine::MoveStream(size_t input, const float* samples, int64_t first) {
  if (input >= m_feeds.size()) return;
  m_feeds[input].samples = samples;
  m_feeds[input].first = first;
  m_feeds_moved = true;
}

bool AudioEngine::CanSet(int32_t declaration, std::string* why) const {
  const EnginePin* pin = PinOfDeclaration(declaration);
  if (!pin) {
    *why = "it has no audio side (a GUI-only pin), so it cannot change what the audio half renders";
    return false;
  }
  if (pin->direction != DR_IN) {
    *why = "it is an output";
    return false;
  }
  if (pin->datatype == DT_FSAMPLE) {
    *why = "it is a sample input (DT_FSAMPLE): it takes a file's channel, not a value";
    return false;
  }
  if (ValueWidth(pin->datatype) == 0) {
    *why = "its datatype (" + std::to_string(pin->datatype) + ") carries no value";
    return false;
  }
  if (!pin->variable) {
    *why = "it was declared without a variable (variable_address is null), so a host has nowhere to write its value";
    return false;
  }
  return true;
}

bool AudioEngine::ScheduleChange(int32_t declaration, uint32_t bits, uint32_t frame, std::string* why,
                                 std::function<void()> also) {
  if (!CanSet(declaration, why)) return false;
  const EnginePin& pin = *PinOfDeclaration(declaration);
  void* variable = pin.variable;
  const size_t width = ValueWidth(pin.datatype);
  auto write = [variable, width, bits, also = std::move(also)] {
    // The low bytes of the value, as the variable's own width holds them.
    if (width == 4) {
      memcpy(variable, &bits, 4);
    } else if (width == 2) {
      const uint16_t value = static_cast<uint16_t>(bits);
      memcpy(variable, &value, 2);
    } else {
      const uint8_t value = static_cast<uint8_t>(bits);
      memcpy(variable, &value, 1);
    }
    if (also) also();
  };
  m_changes.push_back(Change{frame, SEEvent{frame, EVT_PIN_STATUS, 1, 0, pin.audio_index, nullptr}, write});
  m_sorted = false;
  return true;
}

void AudioEngine::PostChanges(uint32_t until) {
  if (!m_sorted) {
    // By frame; changes at one frame keep the order they were scheduled in.
    std::stable_sort(m_changes.begin() + static_cast<std::ptrdiff_t>(m_next_change), m_changes.end(),
                     [](const Change& a, const Change& b) { return a.frame < b.frame; });
    m_sorted = true;
  }
  // Up to the block's end included: a change at the next block's first frame
  // is then queued before any event the module posts for that clock.
  for (; m_next_change < m_changes.size() && m_changes[m_next_change].frame <= until; ++m_next_change) {
    Change& change = m_changes[m_next_change];
    m_schedule.PostHostEvent(change.event, std::move(change.before));
  }
  if (m_next_change == m_changes.size()) {
    m_changes.clear();
    m_next_change = 0;
  }
}

// The two channels of a stereo frame run into two buffers in one pass (the
// compiler vectorises it; a channel at a time with stride 2 it does not). A
// block of a frame or two goes without the vector loop's set-up.
static void SplitStereo(const float* __restrict from, float* __restrict left, float* __restrict right, int64_t frames) {
  if (frames <= 2) {
    if (frames > 0) left[0] = from[0], right[0] = from[1];
    if (frames > 1) left[1] = from[2], right[1] = from[3];
    return;
  }
  for (int64_t f = 0; f < frames; ++f) {
    left[f] = from[2 * f];
    right[f] = from[2 * f + 1];
  }
}

void AudioEngine::FindStereoPairs() {
  for (size_t i = 0; i < m_feeds.size(); ++i) {
    Feed& left = m_feeds[i];
    const Feed* right = i + 1 < m_feeds.size() ? &m_feeds[i + 1] : nullptr;
    left.pairs_with_next = right && left.stride == 2 && right->stride == 2 && left.samples &&
                           right->samples == left.samples + 1 && right->first == left.first &&
                           right->frames == left.frames;
  }
  m_feeds_moved = false;
}

// How many of a block's `frames` a feed holds from clock `start` on (`offset`
// into its samples): none before its first frame or past its end.
static int64_t FramesToCopy(const float* samples, int64_t length, int64_t offset, uint32_t start, int32_t frames) {
  const int64_t have = samples && offset >= 0 ? length - static_cast<int64_t>(start) : 0;
  return std::min<int64_t>(std::max<int64_t>(have, 0), frames);
}

void AudioEngine::FillInputs(uint32_t start, int32_t frames) {
  if (m_feeds_moved) FindStereoPairs();
  for (size_t i = 0; i < m_input_buffers.size(); ++i) {
    const Feed& feed = m_feeds[i];
    float* buffer = m_input_buffers[i];
    const int64_t offset = static_cast<int64_t>(start) - feed.first;  // into feed.samples
    const int64_t have = FramesToCopy(feed.samples, feed.frames, offset, start, frames);
    if (feed.pairs_with_next) {
      float* right = m_input_buffers[++i];
      if (have > 0) SplitStereo(feed.samples + static_cast<size_t>(offset) * 2, buffer, right, have);
      if (have < frames) Clear(right + have, frames - have);
    } else if (have > 0 && feed.stride == 1) {
      memcpy(buffer, feed.samples + offset, static_cast<size_t>(have) * sizeof(float));
    } else if (have > 0) {
      const float* from = feed.samples + static_cast<size_t>(offset) * feed.stride;
      if (feed.stride == 2) {
        // A channel of a stereo file: a constant stride the compiler vectorises.
        for (int64_t f = 0; f < have; ++f) buffer[f] = from[2 * f];
      } else {
        for (int64_t f = 0; f < have; ++f) buffer[f] = from[static_cast<size_t>(f) * feed.stride];
      }
    }
    if (have < frames) Clear(buffer + have, frames - have);
  }
}

void AudioEngine::Process(int32_t frames) {
  frames = std::min(std::max<int32_t>(frames, 1), m_block_size);
  const uint32_t start = m_schedule.sample_clock();
  FillInputs(start, frames);
  // A module that writes nothing to an output leaves silence there, not an earlier block.
  for (float* buffer : m_output_buffers) Clear(buffer, m_block_size);
  PostDue(start + static_cast<uint32_t>(frames));
  m_host.ClearTrace();
  m_schedule.RunBlock(frames);
}

// Two channels into stereo frames in one pass the compiler vectorises; a
// block of a frame or two goes without the vector loop's set-up.
static void InterleaveStereo(const float* __restrict left, const float* __restrict right, float* __restrict to,
                             int32_t frames) {
  if (frames <= 2) {
    if (frames > 0) to[0] = left[0], to[1] = right[0];
    if (frames > 1) to[2] = left[1], to[3] = right[1];
    return;
  }
  for (int32_t f = 0; f < frames; ++f) {
    to[2 * f] = left[f];
    to[2 * f + 1] = right[f];
  }
}

// The same, leaving `zero` behind in the channels: the buffers are clear for
// the next block without a pass of their own. (`zero` comes from memory: a
// constant 0 would have the compiler split the loop into library calls.)
static void TakeStereo(float* __restrict left, float* __restrict right, float* __restrict to, int32_t frames,
                       float zero) {
  if (frames <= 2) {
    if (frames > 0) to[0] = left[0], to[1] = right[0], left[0] = right[0] = zero;
    if (frames > 1) to[2] = left[1], to[3] = right[1], left[1] = right[1] = zero;
    return;
  }
  for (int32_t f = 0; f < frames; ++f) {
    to[2 * f] = left[f];
    to[2 * f + 1] = right[f];
    left[f] = zero;
    right[f] = zero;
  }
}

void AudioEngine::CopyOutputs(const OutputLayout& to, int32_t frames) const {
  const size_t count = m_output_buffers.size();
  if (count == 2 && to.frame_stride == 2 && to.channel_stride == 1) {
    return InterleaveStereo(m_output_buffers[0], m_output_buffers[1], to.base, frames);
  }
  for (size_t c = 0; c < count; ++c) {
    const float* from = m_output_buffers[c];
    float* dest = to.base + c * to.channel_stride;
    if (to.frame_stride == 1) {
      memcpy(dest, from, static_cast<size_t>(frames) * sizeof(float));
    } else {
      for (int32_t f = 0; f < frames; ++f) dest[static_cast<size_t>(f) * to.frame_stride] = from[f];
    }
  }
}

int64_t AudioEngine::QuietBlocks(int32_t frames, int64_t blocks) const {
  if (!m_schedule.NothingQueued()) return 0;
  const int64_t start = m_schedule.sample_clock();
  int64_t last_end = UINT32_MAX;  // the latest end a quiet block may have
  if (m_next_change < m_changes.size()) {
    if (!m_sorted) return 0;  // Process sorts them
    last_end = std::min<int64_t>(last_end, static_cast<int64_t>(m_changes[m_next_change].frame) - 1);
  }
  return std::min(blocks, std::max<int64_t>(last_end - start, 0) / frames);
}

bool AudioEngine::PlanQuietInputs(int32_t frames, int64_t* blocks) {
  if (m_feeds_moved) FindStereoPairs();
  const uint32_t start = m_schedule.sample_clock();
  m_quiet_inputs.clear();
  for (size_t i = 0; i < m_input_buffers.size(); ++i) {
    const Feed& feed = m_feeds[i];
    const int64_t offset = static_cast<int64_t>(start) - feed.first;  // into feed.samples
    const int64_t have = FramesToCopy(feed.samples, feed.frames, offset, start, INT32_MAX);
    float* right = feed.pairs_with_next ? m_input_buffers[i + 1] : nullptr;
    if (have <= 0) {
      m_quiet_inputs.push_back({nullptr, 0, m_input_buffers[i], right});
    } else {
      if (have < frames) return false;
      *blocks = std::min(*blocks, have / frames);
      const size_t stride = feed.pairs_with_next ? 2 : feed.stride;
      const float* from = feed.samples + static_cast<size_t>(offset) * stride;
      m_quiet_inputs.push_back({from, stride, m_input_buffers[i], right});
    }
    if (right) ++i;
  }
  return true;
}

// Inlined into the block loop, so its set-up for the block length is made once a run.
[[gnu::always_inline]] inline void AudioEngine::FillQuietInputs(int32_t frames) {
  for (QuietInput& in : m_quiet_inputs) {
    if (!in.from) {
      Clear(in.left, frames);
      if (in.right) Clear(in.right, frames);
      continue;
    }
    if (in.right) {
      SplitStereo(in.from, in.left, in.right, frames);
    } else {
      for (int32_t f = 0; f < frames; ++f) in.left[f] = in.from[static_cast<size_t>(f) * in.stride];
    }
    in.from += static_cast<size_t>(frames) * in.stride;
  }
}

int64_t AudioEngine::ProcessQuiet(int32_t frames, int64_t blocks, const OutputLayout& out) {
  if (frames < 1 || frames > m_block_size) return 0;
  blocks = QuietBlocks(frames, blocks);
  if (blocks < 1 || !PlanQuietInputs(frames, &blocks)) return 0;
  bool unfinished = false;
  int64_t ran = 0;
  {
    QuietProcessRun run(m_host, frames);
    if (!run.ok()) return 0;
    ran = RunQuietBlocks(run, frames, blocks, out, &unfinished);
  }
  // Outside the run: what the block does next is traced as Process traces it.
  if (unfinished) {
    m_schedule.EndQuietBlock(frames);
    CopyOutputs(out.From((ran - 1) * frames), frames);
  }
  return ran;
}

int64_t AudioEngine::RunQuietBlocks(QuietProcessRun& run, int32_t frames, int64_t blocks, const OutputLayout& out,
                                    bool* unfinished) {
  // A module that writes nothing to an output leaves silence there: the
  // outputs are clear before each block, here by taking each block's
  // samples out of them (whole blocks) or by clearing them again.
  for (float* buffer : m_output_buffers) Clear(buffer, m_block_size);
  const bool stereo =
      frames == m_block_size && m_output_buffers.size() == 2 && out.frame_stride == 2 && out.channel_stride == 1;
  float* to = out.base;
  for (int64_t n = 0; n < blocks; ++n) {
    FillQuietInputs(frames);
    m_host.ClearTrace();
    m_schedule.BeginQuietBlock();
    run.Call();
    if (!m_schedule.NothingQueued() || !m_host.audio()) {
      *unfinished = true;
      return n + 1;
    }
    m_schedule.EndQuietBlock(frames);
    if (stereo) {
      TakeStereo(m_output_buffers[0], m_output_buffers[1], to, frames, m_zero);
      to += 2 * static_cast<size_t>(frames);
    } else {
      CopyOutputs(out.From(n * frames), frames);
      for (float* buffer : m_output_buffers) Clear(buffer, m_block_size);
    }
  }
  return blocks;
}

}  // namespace sehost
