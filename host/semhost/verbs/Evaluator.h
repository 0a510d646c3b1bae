#pragma once
// `eval` and `plot`: sets input pins the way a user does in a host (the host
// stores the value, then notifies the GUI half) and reads the outputs, once
// or over a sweep of one input, optionally for every choice of an enumerated
// pin. Pins are named by name or index; values are checked before the module
// is touched.

#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ModuleInfo.h"

namespace semhost {

class Session;

struct SweepRange {
  std::string pin;
  double from = 0.0;
  double to = 0.0;
  int64_t count = 0;
};

// "X=FROM:TO:COUNT" with COUNT from 1 to 10,000,000; false with `error` set.
bool ParseSweep(const std::string& text, SweepRange* sweep_range, std::string* error);

// The values of a sweep: COUNT values evenly from FROM to TO, as floats.
std::vector<float> SweepValues(const SweepRange& sweep_range);

struct SweepTable {
  const PinInfo* sweep_pin = nullptr;
  std::vector<float> xs;
  // One column per (choice of the --for pin, output), in that order.
  std::vector<std::string> column_names;  // "Result" or "Result[cos]"
  std::vector<std::string> series_names;  // "Result" or "cos" (with one output) or "Result (cos)"
  std::vector<const PinInfo*> column_pins;
  std::vector<std::vector<uint32_t>> columns;  // columns[c][row]
};

class Evaluator {
 public:
  // `session` must be started; `info` describes its pins.
  Evaluator(Session& session, const ModuleInfo& info);

  // Resolves the pins and values of the command line; false with `error` set.
  bool AddSet(const std::string& assignment, std::string* error);  // "PIN=VALUE"
  bool AddGet(const std::string& pin, std::string* error);
  bool SetSweep(const SweepRange& sweep_range, std::string* error);
  bool SetFor(const std::string& pin, std::string* error);

  // Changes every --set pin in command-line order.
  void ApplySets();
  // The outputs: every --get pin, else every output pin.
  std::vector<const PinInfo*> Outputs() const;
  // ("Result", "0.87758255") for each output.
  std::vector<std::pair<std::string, std::string>> Values() const;
  // "Result = 0.87758255" for each output.
  std::vector<std::string> Lines() const;

  // Runs the sweep; `progress` (may be empty) is told each point done and the total.
  SweepTable Sweep(const std::function<void(int64_t, int64_t)>& progress);

  static std::string Csv(const SweepTable& table, const ModuleInfo& info);
  // The same as aligned columns.
  static std::string Table(const SweepTable& table, const ModuleInfo& info);

 private:
  Session& m_session;
  const ModuleInfo& m_info;
  std::vector<std::pair<const PinInfo*, uint32_t>> m_sets;
  std::vector<const PinInfo*> m_gets;
  SweepRange m_sweep;
  const PinInfo* m_sweep_pin = nullptr;
  const PinInfo* m_for_pin = nullptr;
};

}  // namespace semhost
