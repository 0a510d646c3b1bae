#pragma once
// One description of a pin, for every output semhost writes about pins: the
// info verb's table and JSON, the trace of OP_GET_PIN_PROPERTIES and the
// validator's messages. Direction, datatype and flag names come from the
// interface's code tables (Names.h); enumerated pins carry their choices as
// the framework's it_enum_list reads them.

#include <stdint.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "SEPinProperties.h"

namespace semhost {

struct Choice {
  int32_t value;
  std::string text;  // UTF-8
};

constexpr size_t kMaxChoices = 1000;

struct PinInfo {
  int32_t index = 0;
  std::string name;  // UTF-8, control characters escaped
  int32_t direction = 0;
  int32_t datatype = 0;
  int32_t flags = 0;
  bool has_extra = false;     // datatype_extra was not null
  std::string extra;          // datatype_extra as UTF-8
  bool has_variable = false;  // variable_address was not null
  // Enumerated pins: the list's form and choices. At most kMaxChoices are
  // kept; choice_count counts them all.
  bool is_range = false;
  int32_t range_lo = 0;
  int32_t range_hi = 0;
  std::vector<Choice> choices;
  int64_t choice_count = 0;
  std::string list_problem;  // why the list cannot be read, or ""

  // The record's fields as they are, without reading an enumeration list.
  static PinInfo FromRecord(int32_t index, const SEPinProperties& properties);

  bool IsEnum() const { return datatype == DT_ENUM; }
  bool IsInput() const { return direction == DR_IN; }
  bool IsOutput() const { return direction == DR_OUT; }

  std::string DirectionName() const;  // "DR_IN", "DR_OUT", else "direction N"
  std::string DatatypeName() const;   // "DT_ENUM", "DT_FLOAT", …, else "datatype N"
  // "IO_UI_COMMUNICATION|IO_PATCH_STORE", unknown bits as hex ("0x20"), "0" for none.
  std::string FlagNames() const;
  std::vector<std::string> FlagList() const;  // the same, one name each; empty for none
  // `pin 2 "Result"`: the pin in a message.
  std::string Label() const;
  // The record as the trace shows it: `{name="X" DR_IN DT_FLOAT IO_UI_COMMUNICATION}`,
  // with ` extra="…"` and ` variable=non-null` when those are set.
  std::string RecordText() const;
  // Up to 16 choices as "cos (0), sin (1), …"; "(none)" without any.
  std::string ChoiceList() const;
  // The info verb's lines for the pin, each ending in a line feed: the
  // table row (the name padded to `name_width`), then the choices or the extra text.
  std::string TableLines(size_t name_width) const;
  // The info verb's JSON object for the pin.
  nlohmann::json Json() const;
};

// Reads an enumeration list as the framework reads it. A text the reader
// would refuse (a range without a comma after its sixth character) is not
// read: `list_problem` says why.
void ReadChoices(const char* list, PinInfo* pin);
// The record's fields, and for an enumerated pin its choices.
PinInfo DescribePin(int32_t index, const SEPinProperties& properties);

}  // namespace semhost
