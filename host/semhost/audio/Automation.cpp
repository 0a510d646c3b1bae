#include "Automation.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace semhost {

namespace {

using Json = nlohmann::ordered_json;  // keeps the file's order, for steps at equal frames

const char* const kTimeForms = "a frame number (22050), seconds (1.5s) or a share of the length (50%)";

// "DIGITS[.DIGITS]" with at most 18 whole digits and `max_decimals` decimals.
bool SplitDecimal(const std::string& text, int max_decimals, int64_t* whole, int64_t* fraction, int64_t* scale) {
  const size_t dot = text.find('.');
  const std::string whole_digits = text.substr(0, dot);
  const std::string fraction_digits = dot == std::string::npos ? "" : text.substr(dot + 1);
  auto all_digits = [](const std::string& digits) {
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (whole_digits.empty() || whole_digits.size() > 18 || !all_digits(whole_digits)) return false;
  if (dot != std::string::npos && (fraction_digits.empty() || !all_digits(fraction_digits))) return false;
  if (static_cast<int>(fraction_digits.size()) > max_decimals) return false;
  *whole = std::stoll(whole_digits);
  *fraction = fraction_digits.empty() ? 0 : std::stoll(fraction_digits);
  *scale = 1;
  for (size_t i = 0; i < fraction_digits.size(); ++i) *scale *= 10;
  return true;
}

// round(x / y), a half up; 0 <= x, 0 < y, 2x + y within int64.
int64_t RoundedQuotient(int64_t x, int64_t y) { return (2 * x + y) / (2 * y); }

// A parse error's message without the library's "[json.exception…] " prefix.
std::string JsonMessage(const std::exception& e) {
  const std::string what = e.what();
  const size_t end = what.find("] ");
  return end == std::string::npos ? what : what.substr(end + 2);
}

}  // namespace

bool Automation::ParseTime(const std::string& time, int32_t sample_rate, int64_t total_frames, int64_t* frame,
                           std::string* error) {
  const char unit = time.empty() ? '\0' : time.back();
  const std::string number = unit == 's' || unit == '%' ? time.substr(0, time.size() - 1) : time;
  int64_t whole = 0, fraction = 0, scale = 1;
  // Seconds to the nanosecond, shares to a millionth of a percent: finer than any
  // sample, and small enough for exact integer arithmetic on any length.
  const int max_decimals = unit == 's' ? 9 : unit == '%' ? 6 : 0;
  if (!SplitDecimal(number, max_decimals, &whole, &fraction, &scale)) {
    *error = "time '" + time + "' is not " + kTimeForms +
             (max_decimals > 0 ? "; at most " + std::to_string(max_decimals) + " decimals" : std::string());
    return false;
  }
  int64_t at = 0;
  if (unit == 's') {
    if (sample_rate < 1) {
      *error = "time '" + time + "' in seconds needs a sample rate";
      return false;
    }
    if (whole > total_frames / sample_rate + 1) {
      *error = "time '" + time + "' is past the end (" + std::to_string(total_frames) + " frames)";
      return false;
    }
    at = whole * sample_rate + RoundedQuotient(fraction * sample_rate, scale);
  } else if (unit == '%') {
    const int64_t whole_length = 100 * scale;
    if (whole > 100 || whole * scale + fraction > whole_length) {
      *error = "time '" + time + "' is past the end: a share is at most 100%";
      return false;
    }
    const int64_t share = whole * scale + fraction;  // of whole_length
    at = share * (total_frames / whole_length) + RoundedQuotient(share * (total_frames % whole_length), whole_length);
  } else {
    at = whole;
  }
  if (at > total_frames) {
    *error = "time '" + time + "' is frame " + std::to_string(at) + ", past the end (" + std::to_string(total_frames) +
             " frames)";
    return false;
  }
  *frame = at;
  return true;
}

bool Automation::Read(const std::string& path, int32_t sample_rate, int64_t total_frames, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  if (!file || !(content << file.rdbuf())) {
    *error = "cannot read " + path;
    return false;
  }
  return Parse(content.str(), path, sample_rate, total_frames, error);
}

bool Automation::Parse(const std::string& json_text, const std::string& source, int32_t sample_rate,
                       int64_t total_frames, std::string* error) {
  m_steps.clear();
  // A name given twice in one object would silently lose the first entry's steps.
  std::vector<std::set<std::string>> keys;
  std::string duplicate;
  const auto watch_keys = [&](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) keys.emplace_back();
    if (event == Json::parse_event_t::object_end && !keys.empty()) keys.pop_back();
    if (event == Json::parse_event_t::key && !keys.empty() && !keys.back().insert(parsed.get<std::string>()).second &&
        duplicate.empty()) {
      duplicate = parsed.get<std::string>();
    }
    return true;
  };
  Json document;
  try {
    document = Json::parse(json_text, watch_keys);
  } catch (const Json::exception& e) {
    *error = source + ": not valid JSON: " + JsonMessage(e);
    return false;
  }
  if (!duplicate.empty()) {
    *error = source + ": \"" + duplicate + "\" appears twice in one object";
    return false;
  }
  if (!document.is_object()) {
    *error = source + ": expected an object { \"PIN\": { \"TIME\": VALUE, … }, … }";
    return false;
  }
  std::vector<AutomationStep> steps;
  for (const auto& pin : document.items()) {
    std::map<int64_t, std::string> times;  // frame → the time that named it
    const std::string where = source + ": pin \"" + pin.key() + "\"";
    if (!pin.value().is_object()) {
      *error = where + ": expected an object of \"TIME\": VALUE entries, got " + pin.value().dump();
      return false;
    }
    for (const auto& entry : pin.value().items()) {
      AutomationStep step;
      step.pin = pin.key();
      step.time = entry.key();
      std::string why;
      if (!ParseTime(entry.key(), sample_rate, total_frames, &step.frame, &why)) {
        *error = where + ": " + why;
        return false;
      }
      const Json& value = entry.value();
      if (value.is_number()) {
        step.is_number = true;
        step.number = value.get<double>();
        step.text = value.dump();
      } else if (value.is_string()) {
        step.text = value.get<std::string>();
      } else {
        *error = where + ", time '" + entry.key() + "': the value must be a number or a choice's text, got " + value.dump();
        return false;
      }
      const auto named = times.emplace(step.frame, step.time);
      if (!named.second) {
        *error = where + ": times '" + named.first->second + "' and '" + step.time + "' are the same frame " +
                 std::to_string(step.frame);
        return false;
      }
      steps.push_back(step);
    }
  }
  std::stable_sort(steps.begin(), steps.end(),
                   [](const AutomationStep& a, const AutomationStep& b) { return a.frame < b.frame; });
  m_steps = std::move(steps);
  return true;
}

}  // namespace semhost
