#pragma once
// What a library tells about one module: its properties and its pins, with
// every enumerated pin's choices read by the framework's it_enum_list. Also
// finds pins by name or index and reads and writes pin values as text.

#include <stdint.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "SEExports.h"
#include "SEPinProperties.h"

namespace semhost {

class Session;

struct Choice {
  int32_t value;
  std::string text;  // UTF-8
};

struct PinInfo {
  int32_t index = 0;
  std::string name;  // UTF-8, control characters escaped
  int32_t direction = 0;
  int32_t datatype = 0;
  int32_t flags = 0;
  bool has_extra = false;  // datatype_extra was not null
  std::string extra;       // datatype_extra as UTF-8
  // Enumerated pins: the list's form and choices. At most kMaxChoices are
  // kept; choice_count counts them all.
  bool is_range = false;
  int32_t range_lo = 0;
  int32_t range_hi = 0;
  std::vector<Choice> choices;
  int64_t choice_count = 0;
  std::string list_problem;  // why the list cannot be read, or ""

  bool IsEnum() const { return datatype == DT_ENUM; }
  bool IsInput() const { return direction == DR_IN; }
  bool IsOutput() const { return direction == DR_OUT; }
};

constexpr size_t kMaxChoices = 1000;

// Reads an enumeration list as the framework reads it. A text the reader
// would refuse (a range without a comma after its sixth character) is not
// read: `list_problem` says why.
void ReadChoices(const char* list, PinInfo* pin);
PinInfo DescribePin(int32_t index, const SEPinProperties& properties);

class ModuleInfo {
 public:
  // Reads the session's module: its properties, then its pins through a new
  // audio half (closed again). False with `error` set when the library does
  // not hold the module or makes no audio half.
  bool Read(Session& session, std::string* error);

  int32_t index = 0;
  std::string name;
  std::string id;
  std::string about;  // UTF-8, line feeds kept
  int32_t flags = 0;
  int32_t sdk_version = 0;
  std::vector<PinInfo> pins;
  bool pins_cut = false;  // the module describes more than kMaxPins pins

  // A pin by exact name, then by index; else null with `error` naming the pins.
  const PinInfo* FindPin(const std::string& key, std::string* error) const;
  // A value for the pin from text: a choice's text or value for an enumerated
  // pin, a number for the others. False with `error` set when it is none.
  bool ParseValue(const PinInfo& pin, const std::string& text, uint32_t* bits, std::string* error) const;
  // The value as text: "tan (3)" for a choice, "7 (not a choice)", a float as
  // FormatFloat writes it, an integer in decimal.
  std::string FormatValue(const PinInfo& pin, uint32_t bits) const;
  // The choice's text for an enumerated pin, else "".
  std::string ChoiceText(const PinInfo& pin, int32_t value) const;

  std::string Text() const;
  nlohmann::json Json() const;
};

// True when eval can set this pin from text: enumerated, float and integer pins.
bool IsSettable(const PinInfo& pin);

}  // namespace semhost
