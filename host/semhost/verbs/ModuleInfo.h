#pragma once
// What a library tells about one module: its properties and its pins (each
// a PinInfo, enumerated pins with their choices). Also
// finds pins by name or index and reads and writes pin values as text.

#include <stdint.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "PinInfo.h"
#include "SEExports.h"
#include "SEPinProperties.h"

namespace semhost {

class Session;

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
