#pragma once
// The step changes of `--automate FILE.json` for a render:
//
//   { "PIN": { "TIME": VALUE, … }, … }
//
// TIME is a frame number ("22050"), seconds ("1.5s") or a share of the
// input's length ("50%"); seconds and shares are plain decimals (no sign, no
// exponent) and land on the nearest frame, a half frame on the later one, so
// "1.5s" at 44100 Hz is frame 66150 exactly. A time may be the end itself
// (frame = length, "100%"), which changes nothing rendered; a later one is
// refused. VALUE is a JSON number or a text (a choice's text). Pin names and
// values are kept as written: resolving them needs the module.

#include <stdint.h>

#include <string>
#include <vector>

namespace semhost {

struct AutomationStep {
  std::string pin;
  std::string time;   // as written, for messages
  int64_t frame = 0;  // the frame at which the value takes effect
  bool is_number = false;
  double number = 0.0;  // when is_number
  std::string text;     // the text, or the number as JSON writes it
};

class Automation {
 public:
  // Reads the JSON file at `path`; false with `error` naming the file.
  bool Read(const std::string& path, int32_t sample_rate, int64_t total_frames, std::string* error);
  // The same on a document's text; `source` names it in messages.
  bool Parse(const std::string& json_text, const std::string& source, int32_t sample_rate, int64_t total_frames,
             std::string* error);

  // Every step by frame; steps at the same frame in the order of the file.
  const std::vector<AutomationStep>& steps() const { return m_steps; }

  // One TIME; false with `error` saying what is wrong with it.
  static bool ParseTime(const std::string& time, int32_t sample_rate, int64_t total_frames, int64_t* frame,
                        std::string* error);

 private:
  std::vector<AutomationStep> m_steps;
};

}  // namespace semhost
