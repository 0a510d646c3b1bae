#include "Evaluator.h"

#include <string.h>

#include <algorithm>
#include <cmath>

#include "FloatBits.h"
#include "Session.h"
#include "Text.h"

namespace semhost {

namespace {

using setest::BitsFloat;
using setest::FloatBits;

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// A cell of the sweep table: floats as FormatFloat writes them, every other
// value as its integer (a choice's value, not its text, so the column stays numeric).
std::string Cell(const PinInfo& pin, uint32_t bits) {
  if (pin.datatype == DT_FLOAT) return FormatFloat(BitsFloat(bits));
  return std::to_string(static_cast<int32_t>(bits));
}

}  // namespace

bool ParseSweep(const std::string& text, SweepRange* sweep_range, std::string* error) {
  const std::string usage = "--sweep expects PIN=FROM:TO:COUNT, such as X=-1:1:21; got '" + text + "'";
  const size_t equals = text.rfind('=');
  if (equals == std::string::npos || equals == 0) {
    *error = usage;
    return false;
  }
  sweep_range->pin = text.substr(0, equals);
  const std::string range = text.substr(equals + 1);
  const size_t first = range.find(':');
  const size_t second = first == std::string::npos ? std::string::npos : range.find(':', first + 1);
  if (second == std::string::npos || range.find(':', second + 1) != std::string::npos) {
    *error = usage;
    return false;
  }
  const std::string from = range.substr(0, first), to = range.substr(first + 1, second - first - 1),
                    count = range.substr(second + 1);
  int32_t n = 0;
  if (!ParseDouble(from, &sweep_range->from) || !std::isfinite(sweep_range->from)) {
    *error = "bad number '" + from + "' for the start of --sweep " + text;
    return false;
  }
  if (!ParseDouble(to, &sweep_range->to) || !std::isfinite(sweep_range->to)) {
    *error = "bad number '" + to + "' for the end of --sweep " + text;
    return false;
  }
  if (!ParseInt32(count, &n) || n < 1 || n > 10000000) {
    *error = "bad count '" + count + "' in --sweep " + text + ": a whole number from 1 to 10000000";
    return false;
  }
  sweep_range->count = n;
  return true;
}

std::vector<float> SweepValues(const SweepRange& sweep_range) {
  std::vector<float> values;
  values.reserve(static_cast<size_t>(sweep_range.count));
  for (int64_t i = 0; i < sweep_range.count; ++i) {
    // The ends exactly as given; the inside evenly between them. Every step is
    // rounded to double (volatile), so x87 builds sweep the same values as SSE builds.
    volatile double t = sweep_range.count == 1 ? 0.0 : static_cast<double>(i) / static_cast<double>(sweep_range.count - 1);
    volatile double offset = (sweep_range.to - sweep_range.from) * t;
    volatile double x = sweep_range.from + offset;
    values.push_back(static_cast<float>(i == sweep_range.count - 1 && sweep_range.count > 1 ? sweep_range.to : x));
  }
  return values;
}

Evaluator::Evaluator(Session& session, const ModuleInfo& info) : m_session(session), m_info(info) {}

bool Evaluator::AddSet(const std::string& assignment, std::string* error) {
  const size_t equals = assignment.find('=');
  if (equals == std::string::npos || equals == 0) {
    *error = "--set expects PIN=VALUE, such as X=0.5 or Mode=tan; got '" + assignment + "'";
    return false;
  }
  const PinInfo* pin = m_info.FindPin(assignment.substr(0, equals), error);
  if (!pin) return false;
  if (!pin->IsInput()) {
    *error = "pin " + pin->name + " is an output: only inputs can be set";
    return false;
  }
  uint32_t bits = 0;
  if (!m_info.ParseValue(*pin, assignment.substr(equals + 1), &bits, error)) return false;
  m_sets.push_back({pin, bits});
  return true;
}

bool Evaluator::AddGet(const std::string& name, std::string* error) {
  const PinInfo* pin = m_info.FindPin(name, error);
  if (!pin) return false;
  m_gets.push_back(pin);
  return true;
}

bool Evaluator::SetSweep(const SweepRange& sweep_range, std::string* error) {
  const PinInfo* pin = m_info.FindPin(sweep_range.pin, error);
  if (!pin) return false;
  if (!pin->IsInput() || pin->IsEnum() || !IsSettable(*pin)) {
    *error = "--sweep needs a float or integer input pin; " + pin->name + " is " +
             (!pin->IsInput() ? std::string("an output")
              : pin->IsEnum() ? "enumerated (use --for " + pin->name + " to go through its choices)"
                              : "of a datatype semhost cannot set");
    return false;
  }
  m_sweep = sweep_range;
  m_sweep_pin = pin;
  return true;
}

bool Evaluator::SetFor(const std::string& name, std::string* error) {
  const PinInfo* pin = m_info.FindPin(name, error);
  if (!pin) return false;
  if (!pin->IsEnum() || !pin->IsInput()) {
    *error = "--for needs an enumerated input pin; " + pin->name + " is not one";
    return false;
  }
  if (pin->choices.empty()) {
    *error = "pin " + pin->name + " has no choices to go through";
    return false;
  }
  m_for_pin = pin;
  return true;
}

void Evaluator::ApplySets() {
  for (const auto& set : m_sets) m_session.Change(set.first->index, set.second);
}

std::vector<const PinInfo*> Evaluator::Outputs() const {
  if (!m_gets.empty()) return m_gets;
  std::vector<const PinInfo*> outputs;
  for (const PinInfo& pin : m_info.pins) {
    if (pin.IsOutput()) outputs.push_back(&pin);
  }
  return outputs;
}

std::vector<std::pair<std::string, std::string>> Evaluator::Values() const {
  std::vector<std::pair<std::string, std::string>> values;
  for (const PinInfo* pin : Outputs()) values.push_back({pin->name, m_info.FormatValue(*pin, m_session.PinBits(pin->index))});
  return values;
}

std::vector<std::string> Evaluator::Lines() const {
  std::vector<std::string> lines;
  for (const auto& value : Values()) lines.push_back(value.first + " = " + value.second);
  return lines;
}

SweepTable Evaluator::Sweep(const std::function<void(int64_t, int64_t)>& progress) {
  SweepTable table;
  table.sweep_pin = m_sweep_pin;
  table.xs = SweepValues(m_sweep);
  const std::vector<const PinInfo*> outputs = Outputs();
  std::vector<const Choice*> choices;
  if (m_for_pin) {
    for (const Choice& choice : m_for_pin->choices) choices.push_back(&choice);
  } else {
    choices.push_back(nullptr);
  }
  const int64_t total = static_cast<int64_t>(choices.size()) * static_cast<int64_t>(table.xs.size());
  int64_t done = 0;
  for (const Choice* choice : choices) {
    if (choice) m_session.Change(m_for_pin->index, static_cast<uint32_t>(choice->value));
    const size_t first = table.columns.size();
    for (const PinInfo* out : outputs) {
      table.column_pins.push_back(out);
      table.column_names.push_back(choice ? out->name + "[" + choice->text + "]" : out->name);
      table.series_names.push_back(!choice ? out->name : outputs.size() == 1 ? choice->text : out->name + " (" + choice->text + ")");
      table.columns.emplace_back();
      table.columns.back().reserve(table.xs.size());
    }
    for (float x : table.xs) {
      // An integer pin gets the sweep value rounded, within the 32-bit range.
      const double whole = std::nearbyint(std::min(std::max(static_cast<double>(x), -2147483648.0), 2147483647.0));
      const uint32_t bits = m_sweep_pin->datatype == DT_FLOAT ? FloatBits(x) : static_cast<uint32_t>(static_cast<int32_t>(whole));
      m_session.Change(m_sweep_pin->index, bits);
      for (size_t o = 0; o < outputs.size(); ++o) table.columns[first + o].push_back(m_session.PinBits(outputs[o]->index));
      if (progress) progress(++done, total);
    }
  }
  return table;
}

std::string Evaluator::Csv(const SweepTable& table, const ModuleInfo&) {
  std::string csv = CsvField(table.sweep_pin->name);
  for (const std::string& name : table.column_names) csv += "," + CsvField(name);
  csv += "\n";
  for (size_t row = 0; row < table.xs.size(); ++row) {
    csv += FormatFloat(table.xs[row]);
    for (size_t c = 0; c < table.columns.size(); ++c) csv += "," + Cell(*table.column_pins[c], table.columns[c][row]);
    csv += "\n";
  }
  return csv;
}

std::string Evaluator::Table(const SweepTable& table, const ModuleInfo&) {
  std::vector<std::vector<std::string>> cells;
  cells.push_back({table.sweep_pin->name});
  for (const std::string& name : table.column_names) cells.back().push_back(name);
  for (size_t row = 0; row < table.xs.size(); ++row) {
    cells.push_back({FormatFloat(table.xs[row])});
    for (size_t c = 0; c < table.columns.size(); ++c) cells.back().push_back(Cell(*table.column_pins[c], table.columns[c][row]));
  }
  std::vector<size_t> widths(cells.front().size(), 0);
  for (const auto& line : cells) {
    for (size_t c = 0; c < line.size(); ++c) widths[c] = std::max(widths[c], line[c].size());
  }
  std::string text;
  for (const auto& line : cells) {
    std::string row;
    for (size_t c = 0; c < line.size(); ++c) {
      // Right-aligned numbers, two spaces apart.
      row += (c ? "  " : "") + std::string(widths[c] - line[c].size(), ' ') + line[c];
    }
    text += row + "\n";
  }
  return text;
}

}  // namespace semhost
