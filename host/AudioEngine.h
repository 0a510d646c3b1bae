#pragma once
// The stand-in host's audio engine: what a host does to run an audio half
// over a stream of samples, block by block, sample-accurately.
//
// The host's conventions, which the interface leaves to the host:
// - Pins. HC_GET_PIN_COUNT answers the audio-side pins (those without
//   IO_UI_COMMUNICATION, or with IO_UI_AND_DSP), in declaration order; a
//   last declared pin with IO_REPEATING stands for as many pins as the host
//   is given for it (`repeats`, at least one).
// - Buffers. Every pin has a host buffer of one block of floats whose address
//   stays the same for the whole run (HC_GET_PIN_BUFFER); HC_GET_BLOCK_START
//   answers the clock of its first sample. The engine fills the DT_FSAMPLE
//   input buffers before a block (silence past the end of a stream, and for
//   inputs without one) and callers read the DT_FSAMPLE output buffers after it
//   (cleared before each block). A DT_FSAMPLE pin declared with a variable
//   gets its buffer's address written there before OP_OPEN.
// - Runs. Within a block the process entry is called as (module, offset,
//   frames) for the part [offset, offset + frames) of the buffers, with the
//   clock at block start + offset; the block is split at every due event
//   (AudioSchedule::RunBlock), so nothing happens between two samples.
// - Control changes. A value for an input pin that is not DT_FSAMPLE, due at
//   frame t: at clock t the host writes it into the variable the pin declared
//   (variable_address; DT_ENUM 16 bits, DT_FLOAT a float, datatype 4 one byte,
//   datatype 8 32 bits), then delivers EVT_PIN_STATUS with int_value1 1 and
//   ptr_value the pin's audio-side index. A pin declared without a variable,
//   or of a datatype without a value, cannot be set.
// - Streams. A DT_FSAMPLE input fed from a stream gets EVT_PIN_STATUS 2
//   (streaming) at clock 0 and 0 at the clock where its stream ends, when
//   that is inside the run (silence follows).
// - Order. At one clock the host's events (in the order scheduled) come
//   before the events the module posted (in posting order).
// The audio half alone is run: nothing here needs a GUI half. Blocks with
// nothing due may run as a quiet run (ProcessQuiet): the same samples, calls
// and clocks, without a trace entry per call.

#include <stdint.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "SEPinProperties.h"
#include "StandInHost.h"

namespace sehost {

class QuietProcessRun;

// One audio-side pin as the host carries it.
struct EnginePin {
  int32_t audio_index = 0;   // index among the audio-side pins (the pins' host calls carry it)
  int32_t declaration = 0;   // index among every declared pin (OP_GET_PIN_PROPERTIES)
  int32_t direction = DR_IN;
  int32_t datatype = 0;
  int32_t flags = 0;
  void* variable = nullptr;  // the declared variable; null for repeats
  bool repeat = false;       // one of the repeats of the last declared pin
  bool IsSampleInput() const { return datatype == DT_FSAMPLE && direction == DR_IN; }
  bool IsSampleOutput() const { return datatype == DT_FSAMPLE && direction == DR_OUT; }
};

// Where a caller wants the sample outputs of a run of blocks: frame f of
// output c at base[f * frame_stride + c * channel_stride], f counted from
// the run's first frame (interleaved: frame_stride = outputs, channel_stride
// = 1; a channel after the other: frame_stride = 1).
struct OutputLayout {
  float* base = nullptr;
  size_t frame_stride = 1;
  size_t channel_stride = 0;
  // The same layout from frame `frames` on.
  OutputLayout From(int64_t frames) const {
    return {base + static_cast<size_t>(frames) * frame_stride, frame_stride, channel_stride};
  }
};

class AudioEngine {
 public:
  // `pins` are the declarations the host's own audio half answered (their
  // variables are that instance's); the repeating group, if any, stands for
  // `repeats` copies of itself. `host` must outlive the engine.
  AudioEngine(StandInHost& host, const std::vector<SEPinProperties>& pins, int32_t repeats);
  AudioEngine(const AudioEngine&) = delete;
  AudioEngine& operator=(const AudioEngine&) = delete;

  // The first declaration of the repeating group, or -1: the declarations at
  // the end that all have an audio side and IO_REPEATING. Usually the last
  // pin alone; an input/output pair that repeats as a unit (one channel of a
  // stream processor) is a group of two. The framework binds every repeat
  // with the last declaration's datatype, so a group shares one datatype.
  static int32_t RepeatingDeclaration(const std::vector<SEPinProperties>& pins);

  const std::vector<EnginePin>& pins() const { return m_pins; }
  // Audio-side indices of the DT_FSAMPLE inputs and outputs, in order.
  const std::vector<int32_t>& sample_inputs() const { return m_inputs; }
  const std::vector<int32_t>& sample_outputs() const { return m_outputs; }
  // The audio-side pin of a declaration, or null (GUI-only, or past the count).
  const EnginePin* PinOfDeclaration(int32_t declaration) const;

  // Before OP_OPEN: gives the host the pin count and a buffer of
  // `block_size` floats per pin, and sets the clock to 0.
  void Prepare(int32_t block_size);
  int32_t block_size() const { return m_block_size; }

  // Feeds sample input number `input` (of sample_inputs()) from `samples`,
  // `frames` long (the caller keeps them alive), with its status events.
  // Frame f is samples[f * stride]: a channel of an interleaved file is
  // read in place, without a copy of its own.
  void Stream(size_t input, const float* samples, int64_t frames, size_t stride = 1);
  // Moves the stream's samples: from now on frame f (f >= `first`) is
  // samples[(f - first) * stride]. A long stream is fed a chunk at a time;
  // the caller keeps the chunk alive and holding every frame of the blocks
  // processed until the next move.
  void MoveStream(size_t input, const float* samples, int64_t first);
  // Whether a host can set this declared pin; false with the reason.
  bool CanSet(int32_t declaration, std::string* why) const;
  // Schedules a control change of `declaration` to `bits` (the pin's value,
  // as 32 bits) at `frame`; false with the reason when it cannot be set.
  // `also` (may be empty) runs with the change, for whatever else the
  // caller's host does then (telling a GUI half, say).
  bool ScheduleChange(int32_t declaration, uint32_t bits, uint32_t frame, std::string* why,
                      std::function<void()> also = nullptr);

  // Processes the next `frames` frames (1 to block_size) as one block: fills
  // the inputs, hands the host the changes due up to the block's end, runs
  // the block. The host's trace is cleared first, so it holds this block's calls.
  void Process(int32_t frames);
  // Output number `output` (of sample_outputs()) after Process: block-size
  // floats; null for a number past the outputs or before Prepare.
  const float* Output(size_t output) const {
    return output < m_output_buffers.size() ? m_output_buffers[output] : nullptr;
  }
  // Copies `frames` of every output after Process to `to` (its frame 0 is
  // the block's first).
  void CopyOutputs(const OutputLayout& to, int32_t frames) const;

  // Runs up to `blocks` blocks of `frames` frames, each with the samples and
  // calls Process would give it, while each block is quiet: no event queued
  // before it and no change due by its end. The host makes the calls without
  // a trace entry each (QuietProcessRun); block n's outputs go to `out` at
  // frame n * frames. Answers the blocks run: fewer than asked once the next
  // needs Process (or the host cannot run quietly), or when the audio half
  // is gone; a block whose call posted an event ends the run, finished as
  // Process would finish it.
  int64_t ProcessQuiet(int32_t frames, int64_t blocks, const OutputLayout& out);

  // The clock of the next block's first sample.
  uint32_t clock() const { return m_schedule.sample_clock(); }

 private:
  struct Change {
    uint32_t frame;
    SEEvent event;
    std::function<void()> before;
  };
  struct Feed {
    const float* samples = nullptr;
    int64_t frames = 0;
    size_t stride = 1;
    int64_t first = 0;  // the frame at samples[0]
    // This feed and the next are the two channels of one interleaved stereo
    // stream (FindStereoPairs): one pass fills both buffers.
    bool pairs_with_next = false;
  };
  // Hands the host the changes due up to `until`; a block with none due
  // costs two comparisons.
  void PostDue(uint32_t until) {
    if (m_next_change == m_changes.size()) return;
    if (m_sorted && m_changes[m_next_change].frame > until) return;
    PostChanges(until);
  }
  void PostChanges(uint32_t until);
  // How many of the next `blocks` blocks of `frames` are quiet: nothing
  // queued, no change due by a block's end, the clock not wrapping.
  int64_t QuietBlocks(int32_t frames, int64_t blocks) const;
  // One sample input (or stereo pair) through a quiet run: a feed's frames
  // from `from` on, a block after the other, or silence (`from` null).
  struct QuietInput {
    const float* from;
    size_t stride;
    float* left;
    float* right;  // the pair's second buffer, or null
  };
  // Plans the inputs for up to `*blocks` blocks from the clock, each either
  // wholly fed or wholly silent (fewer blocks where a feed ends sooner);
  // false when the first block is fed only in part (Process fills it).
  bool PlanQuietInputs(int32_t frames, int64_t* blocks);
  void FillQuietInputs(int32_t frames);
  // ProcessQuiet's loop inside its run; `*unfinished` when the last block's
  // call posted an event or closed the half, to be finished after the run.
  int64_t RunQuietBlocks(QuietProcessRun& run, int32_t frames, int64_t blocks, const OutputLayout& out,
                         bool* unfinished);
  // Fills every sample input's buffer for the block at `start`: its feed's
  // frames, then silence.
  void FillInputs(uint32_t start, int32_t frames);
  void FindStereoPairs();  // after the feeds moved
  // Zeroes `count` floats; a frame or two costs no library call.
  static void Clear(float* buffer, int64_t count) {
    if (count <= 2) {
      if (count > 0) buffer[0] = 0.0f;
      if (count > 1) buffer[1] = 0.0f;
    } else {
      memset(buffer, 0, static_cast<size_t>(count) * sizeof(float));
    }
  }

  StandInHost& m_host;
  AudioSchedule& m_schedule;  // the host's
  std::vector<EnginePin> m_pins;
  std::vector<int32_t> m_inputs;
  std::vector<int32_t> m_outputs;
  std::vector<Feed> m_feeds;  // by sample input
  bool m_feeds_moved = false;  // since FindStereoPairs
  std::vector<float*> m_input_buffers;   // the host's buffer of each sample input, from Prepare on
  std::vector<float*> m_output_buffers;  // and of each sample output
  int32_t m_block_size = 0;
  std::vector<Change> m_changes;  // not yet handed to the host, by frame once sorted
  size_t m_next_change = 0;
  bool m_sorted = true;
  std::vector<QuietInput> m_quiet_inputs;  // the plan of the quiet run under way
  float m_zero = 0.0f;                     // silence, read from memory (TakeStereo)
};

}  // namespace sehost
