#include "Automation.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <nlohmann/json.hpp>

namespace semhost {

namespace {

using Json = nlohmann::json;

// Levels of nesting a document may have; an automation needs two.
constexpr size_t kMaxDepth = 64;

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

// A value as the user wrote it, cut short past 60 characters. Its nesting
// is bounded (kMaxDepth), so writing it out cannot exhaust the stack.
std::string Shown(const Json& value) {
  std::string text = value.dump();
  if (text.size() > 60) text = text.substr(0, 57) + "…";
  return text;
}

// The byte (counted from 1) of the bracket that opens level `level` of the
// JSON text, strings skipped; 0 when none does.
size_t ByteOfLevel(const std::string& text, int level) {
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      if (++depth == level) return i + 1;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return 0;
}

// Thrown by the parser's callback to stop at the first level too deep.
struct TooDeep {};

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

namespace {

// The names of a document in the file's order: the pins, and each pin's
// times. The document itself is read into std::map objects, which find a
// name in O(log n); the outline gives back the order the map loses.
struct Outline {
  std::vector<std::string> pins;
  std::vector<std::vector<std::string>> times;  // by pin
};

// Parses the text; false with `error` for malformed JSON, a level nested
// deeper than kMaxDepth and a name given twice in one object. The parser
// keeps its levels on the heap, and the callback stops it at the first
// level too deep, so no input exhausts the stack.
bool ReadDocument(const std::string& text, const std::string& source, Json* document, Outline* outline,
                  std::string* error) {
  std::vector<std::unordered_set<std::string>> keys;  // by open object
  std::vector<bool> is_object;                         // by open level
  std::string duplicate;
  const auto watch = [&](int, Json::parse_event_t event, Json& parsed) {
    switch (event) {
      case Json::parse_event_t::object_start:
      case Json::parse_event_t::array_start:
        if (is_object.size() == kMaxDepth) throw TooDeep{};
        is_object.push_back(event == Json::parse_event_t::object_start);
        if (is_object.back()) keys.emplace_back();
        break;
      case Json::parse_event_t::object_end:
      case Json::parse_event_t::array_end:
        if (is_object.back()) keys.pop_back();
        is_object.pop_back();
        break;
      case Json::parse_event_t::key: {
        const std::string& key = parsed.get_ref<const std::string&>();
        if (!keys.back().insert(key).second && duplicate.empty()) duplicate = key;
        if (is_object.size() == 1) {
          outline->pins.push_back(key);
          outline->times.emplace_back();
        } else if (is_object.size() == 2 && is_object[0] && !outline->times.empty()) {
          outline->times.back().push_back(key);
        }
        break;
      }
      case Json::parse_event_t::value:
        break;
    }
    return true;
  };
  try {
    *document = Json::parse(text, watch);
  } catch (const Json::exception& e) {
    *error = source + ": not valid JSON: " + JsonMessage(e);
    return false;
  } catch (const TooDeep&) {
    *error = source + ": nested deeper than " + std::to_string(kMaxDepth) + " levels at byte " +
             std::to_string(ByteOfLevel(text, kMaxDepth + 1));
    return false;
  }
  if (!duplicate.empty()) {
    *error = source + ": \"" + duplicate + "\" appears twice in one object";
    return false;
  }
  return true;
}

bool ReadPin(const std::string& pin, const Json& entries, const std::vector<std::string>& times,
             const std::string& source, int32_t sample_rate, int64_t total_frames, std::vector<AutomationStep>* steps,
             std::string* error) {
  const std::string where = source + ": pin \"" + pin + "\"";
  if (!entries.is_object()) {
    *error = where + ": expected an object of \"TIME\": VALUE entries, got " + Shown(entries);
    return false;
  }
  std::unordered_map<int64_t, const std::string*> named;  // frame → the time that named it
  named.reserve(times.size());
  for (const std::string& time : times) {
    AutomationStep step;
    step.pin = pin;
    step.time = time;
    std::string why;
    if (!Automation::ParseTime(time, sample_rate, total_frames, &step.frame, &why)) {
      *error = where + ": " + why;
      return false;
    }
    const Json& value = entries.find(time).value();
    if (value.is_number()) {
      step.is_number = true;
      step.number = value.get<double>();
      step.text = value.dump();
    } else if (value.is_string()) {
      step.text = value.get<std::string>();
    } else {
      *error = where + ", time '" + time + "': the value must be a number or a choice's text, got " + Shown(value);
      return false;
    }
    const auto first = named.emplace(step.frame, &time);
    if (!first.second) {
      *error = where + ": times '" + *first.first->second + "' and '" + time + "' are the same frame " +
               std::to_string(step.frame);
      return false;
    }
    steps->push_back(std::move(step));
  }
  return true;
}

}  // namespace

bool Automation::Read(const std::string& path, int32_t sample_rate, int64_t total_frames, std::string* error) {
  // A folder would read as empty, a FIFO or a device could block or never end.
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    *error = "cannot read " + path + ": " +
             (S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file (a FIFO or a device, say)");
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  std::stringstream content;
  content << file.rdbuf();  // sets failbit on an empty file, which is told below
  if (file.bad()) {
    *error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  const std::string text = content.str();
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    *error = path + ": the file is empty; expected { \"PIN\": { \"TIME\": VALUE, … }, … }";
    return false;
  }
  return Parse(text, path, sample_rate, total_frames, error);
}

bool Automation::Parse(const std::string& json_text, const std::string& source, int32_t sample_rate,
                       int64_t total_frames, std::string* error) {
  m_steps.clear();
  Json document;
  Outline outline;
  if (!ReadDocument(json_text, source, &document, &outline, error)) return false;
  if (!document.is_object()) {
    *error = source + ": expected an object { \"PIN\": { \"TIME\": VALUE, … }, … }, got " + Shown(document);
    return false;
  }
  std::vector<AutomationStep> steps;
  for (size_t p = 0; p < outline.pins.size(); ++p) {
    const std::string& pin = outline.pins[p];
    const Json& entries = document.find(pin).value();
    if (!ReadPin(pin, entries, outline.times[p], source, sample_rate, total_frames, &steps, error)) return false;
  }
  std::stable_sort(steps.begin(), steps.end(),
                   [](const AutomationStep& a, const AutomationStep& b) { return a.frame < b.frame; });
  m_steps = std::move(steps);
  return true;
}

}  // namespace semhost
