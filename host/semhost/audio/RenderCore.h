#pragma once
// One render of a module's audio half, whatever holds the samples: the
// engine's layout of the pins for the input channels, the control changes
// (--set, automation steps, a caller's own) resolved against the pins, the
// start (frame-0 values stored before OP_OPEN, the GUI half made, streams
// before changes, the GUI half told of changes to pins it shares) and the
// blocks. `semhost render` (files) and the in-process harness (arrays) both
// run this, so the same inputs and changes give the same samples bit for bit.

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AudioEngine.h"
#include "ModuleInfo.h"

namespace semhost {

class Automation;
class Session;

// The sample clock is 32 bits: a render is at most this many frames.
constexpr int64_t kMaxRenderFrames = 4294967295LL;

// A pin and value, resolved, due at `frame`.
struct RenderChange {
  const PinInfo* pin;
  uint32_t bits;
  int64_t frame;
  std::string mark;  // an automation step's "PIN = VALUE" for a chart; "" otherwise
};

class RenderCore {
 public:
  // `session` has read its audio pins (Session::ReadAudioPins) and outlives
  // the core; the render runs `total` frames in blocks of `block_size`.
  RenderCore(Session& session, int32_t sample_rate, int32_t block_size, int64_t total);
  RenderCore(const RenderCore&) = delete;
  RenderCore& operator=(const RenderCore&) = delete;

  // Lays the pins out for `channels` input channels (a repeating group
  // repeats to take them); false with `error` when the module takes fewer
  // channels or has no sample output.
  bool PlanPins(size_t channels, std::string* error);
  // After PlanPins. "PIN=VALUE" as --set: due before the first frame.
  bool AddSet(const std::string& assignment, std::string* error);
  // Every step of `automation`, named `source` in messages (its file).
  bool AddAutomation(const Automation& automation, const std::string& source, std::string* error);
  // One change of `key` (a pin's name or index) to `value` (a number or a
  // choice's text) at `frame`; `where` starts any message.
  bool AddChange(const std::string& where, const std::string& key, const std::string& value, int64_t frame,
                 std::string* error);

  // Stores the frame-0 values, opens the audio half and makes the GUI half;
  // then `stream` feeds the engine's sample inputs, and the changes are scheduled.
  void Start(const std::function<void(sehost::AudioEngine&)>& stream);
  // Every block in turn, a span at a time: `begin` with the span's first
  // frame answers where its outputs go (frame 0 of the layout is the span's
  // first), its blocks run, then `end` with its first frame and length. A
  // span is `span` frames (a whole number of blocks; the last span may be
  // shorter). 0 when every block ran; else the exit code with `error`: 1
  // when the audio half is gone, 2 when `end` answered false (its message).
  // Blocks with nothing due run without a trace entry per call when the
  // session's observer allows it (sehost::QuietProcessRun).
  int RenderSpans(int64_t span, const std::function<sehost::OutputLayout(int64_t)>& begin,
                  const std::function<bool(int64_t, int64_t, std::string*)>& end, std::string* error);

  const ModuleInfo& info() const { return m_info; }
  const sehost::AudioEngine& engine() const { return *m_engine; }
  const std::vector<RenderChange>& changes() const { return m_changes; }
  size_t output_count() const { return m_engine->sample_outputs().size(); }
  // The declared name of each sample output, in order (a repeat has its pin's name).
  std::vector<std::string> OutputNames() const;
  int32_t sample_rate() const { return m_rate; }
  int32_t block_size() const { return m_block_size; }
  int64_t total() const { return m_total; }

 private:
  // The blocks of the frames [first, last), their outputs to `out`; false
  // when the audio half is gone.
  bool RenderSpan(int64_t first, int64_t last, const sehost::OutputLayout& out);

  Session& m_session;
  int32_t m_rate;
  int32_t m_block_size;
  int64_t m_total;
  ModuleInfo m_info;
  std::unique_ptr<sehost::AudioEngine> m_engine;
  std::vector<RenderChange> m_changes;
};

}  // namespace semhost
