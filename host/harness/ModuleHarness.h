#pragma once
// An in-process harness for a module author's own unit tests: loads a module
// library by path, describes its pins, renders its audio half over float
// arrays with sample-accurate control changes, evaluates its GUI half and
// keeps the trace of every call across the boundary.
//
// It runs the module the way `semhost` runs it, through the same code: a
// render gives, bit for bit, the samples `semhost render` writes as a float
// file for the same inputs, rate, block size and changes, and an evaluation
// the values `semhost eval` prints. Failures answer false and leave error()
// holding the message semhost prints for them (after its "semhost: " or
// "semhost: render: " prefix). Nothing is isolated: the module runs in the
// caller's process, so a crash in it ends the test program. No exception
// leaves the harness but std::bad_alloc.
//
//   sehost::ModuleHarness harness;
//   ASSERT_TRUE(harness.Load("Gain.sem")) << harness.error();
//   harness.OpenAudio(48000, 64);
//   harness.Set("Gain", 0.5);
//   harness.SetAt(100, "Gain", 2.0);  // from frame 100 on, exactly
//   sehost::HarnessAudio out;
//   ASSERT_TRUE(harness.Render({input}, &out)) << harness.error();
//   EXPECT_EQ(out.At(0, 100), 2.0f * input[100]);
//
// A harness is used from one thread at a time; harnesses on different
// threads share the process-wide crash notes of semhost's renders, so run
// one render or evaluation at a time.

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace semhost {
class RenderCore;
class Session;
}  // namespace semhost

namespace sehost {

// One choice of an enumerated pin: the value a host writes, and its text.
struct HarnessChoice {
  int32_t value = 0;   // the value the pin takes
  std::string text;    // its text in the pin's list, UTF-8
};

// One declared pin, as the module describes it.
struct HarnessPin {
  int32_t index = 0;            // the declaration's index (OP_GET_PIN_PROPERTIES)
  std::string name;             // UTF-8
  int32_t direction = 0;        // DR_IN or DR_OUT
  std::string direction_name;   // "DR_IN", "DR_OUT"
  int32_t datatype = 0;         // DT_FLOAT, DT_ENUM, DT_FSAMPLE, …
  std::string datatype_name;    // "DT_FLOAT", …
  int32_t flags = 0;            // IO_… bits
  std::vector<std::string> flag_names;  // "IO_UI_COMMUNICATION", …; empty for none
  std::vector<HarnessChoice> choices;   // an enumerated pin's choices, in list order
};

// What the library tells of the module: its properties and its pins.
struct HarnessProperties {
  int32_t index = 0;        // the module's index in the library
  std::string name;         // UTF-8
  std::string id;           // the unique id
  std::string about;        // UTF-8, line feeds kept
  int32_t flags = 0;        // the properties' flags
  int32_t sdk_version = 0;  // the interface version the module was built for
  std::vector<HarnessPin> pins;  // in declaration order
};

// Sample arrays: `channels` channels of `frames` floats, one after the other.
struct HarnessAudio {
  int32_t channels = 0;        // how many channels
  int64_t frames = 0;          // frames per channel
  std::vector<float> samples;  // channel c's frame f at c * frames + f
  // Channel `c`'s first sample.
  const float* Channel(int32_t c) const { return samples.data() + static_cast<size_t>(c) * static_cast<size_t>(frames); }
  // Channel `c`'s frame `f`.
  float At(int32_t c, int64_t f) const { return Channel(c)[f]; }
};

// What a failure is, as semhost's exit code tells it.
enum class HarnessError {
  kNone = 0,      // the last call succeeded
  kModule = 1,    // the module misbehaved: no such module, no half made, the audio half gone
  kArgument = 2,  // a bad argument: pin, value, automation, channels, length
  kLoad = 3,      // the library could not be loaded, or lacks an export
};

// One module of a library, loaded once and run in this process as semhost
// runs it: each Render and Eval makes, runs and closes new halves.
class ModuleHarness {
 public:
  ModuleHarness();
  ~ModuleHarness();  // unloads the library
  ModuleHarness(const ModuleHarness&) = delete;
  ModuleHarness& operator=(const ModuleHarness&) = delete;

  // Loads the library at `path` and reads module `module_index`: its
  // properties and pins (through an audio half made and closed again).
  // False when it cannot be loaded or holds no such module.
  bool Load(const std::string& path, int32_t module_index = 0);
  // Whether a module is loaded.
  bool loaded() const;
  // The message of the last failure; "" after a success.
  const std::string& error() const { return m_error; }
  // The kind of the last failure.
  HarnessError error_kind() const { return m_error_kind; }

  // The loaded module's properties and pins.
  const HarnessProperties& properties() const { return m_properties; }
  // A pin by exact name, or null.
  const HarnessPin* FindPin(const std::string& name) const;
  // Exactly the text `semhost info PATH --module N --json` prints, without its last line feed.
  std::string InfoJson() const;

  // The rate (1 to 10,000,000 Hz) and block size (1 to 1,048,576 frames) at
  // which every later render opens the audio half. Each render makes a new
  // audio half, opens it, runs it and closes it, as `semhost render` does:
  // one render never sees another's state. Defaults: 48000 Hz, 512 frames.
  bool OpenAudio(int32_t sample_rate, int32_t block_size);

  // Control changes for the next render (each render uses them up).
  // `pin` is a pin's name or index, `value` a number or a choice's text;
  // they are checked when the render starts, with semhost render's messages.
  // Before the first frame, as `semhost render --set PIN=VALUE`:
  void Set(const std::string& pin, const std::string& value);
  // The same with a number (written so that a float pin gets exactly `value` rounded to float).
  void Set(const std::string& pin, double value);
  // From frame `frame` on, exactly: the block is split there.
  void SetAt(int64_t frame, const std::string& pin, const std::string& value);
  // The same with a number.
  void SetAt(int64_t frame, const std::string& pin, double value);
  // "PIN=VALUE", exactly as `semhost render --set` takes it.
  void AddSet(const std::string& assignment);
  // The text of an automation file, exactly as `semhost render --automate`
  // reads it: { "PIN": { "TIME": VALUE, … } }, TIME a frame, "1.5s" or "50%".
  void Automate(const std::string& json_text);
  // Forgets the changes not yet used.
  void ClearChanges();

  // Renders `frames` frames (-1: the inputs' length) over `inputs`, one
  // array per channel (all as long; they feed the sample inputs in order,
  // silence after their end), into `outputs`: one channel per sample output.
  bool Render(const std::vector<std::vector<float>>& inputs, HarnessAudio* outputs, int64_t frames = -1);
  // The same over `channels` arrays of `input_frames` floats each, read in place.
  bool Render(const float* const* inputs, size_t channels, int64_t input_frames, int64_t frames, HarnessAudio* outputs);

  // Evaluates the GUI half as `semhost eval --set … --get …` does: a new
  // instance, each "PIN=VALUE" of `sets` changed in turn as a user changes
  // it, then every pin of `gets` (every output pin when empty) read.
  // `values` gets ("Result", "1.41421354") pairs, with eval's texts.
  bool Eval(const std::vector<std::string>& sets, const std::vector<std::string>& gets,
            std::vector<std::pair<std::string, std::string>>* values);

  // Whether later calls keep their trace (default off).
  void SetTracing(bool on) { m_tracing = on; }
  // The trace of the last Load, Render or Eval, one line per call in
  // semhost's trace format; empty without tracing.
  const std::vector<std::string>& trace() const { return m_trace; }

 private:
  struct Loaded;
  struct Change {
    int kind;       // kAt, kAssignment ("PIN=VALUE" in `text`) or kAutomation (JSON in `text`)
    int64_t frame;  // kAt's frame
    std::string text;
    std::string value;  // kAt's value
  };
  bool Fail(HarnessError kind, const std::string& message);
  bool Succeed();
  bool PlanChanges(semhost::RenderCore& core, std::string* error);
  bool RenderPlanned(semhost::Session& session, const float* const* inputs, size_t channels, int64_t input_frames,
                     int64_t total, HarnessAudio* outputs);

  std::unique_ptr<Loaded> m_loaded;
  HarnessProperties m_properties;
  std::string m_error;
  HarnessError m_error_kind = HarnessError::kNone;
  int32_t m_sample_rate = 48000;
  int32_t m_block_size = 512;
  std::vector<Change> m_changes;
  bool m_tracing = false;
  std::vector<std::string> m_trace;
};

}  // namespace sehost
