#include "ModuleInfo.h"

#include <string.h>

#include <cmath>

#include "FloatBits.h"
#include "Names.h"
#include "Session.h"
#include "Text.h"
#include "it_enum_list.h"

namespace semhost {

namespace {

// The list's 8-bit characters as the framework's 16-bit wide text, each byte
// one character (the Western code page's first 256 code points).
SEWideString Widen(const char* text) {
  SEWideString wide;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    wide += static_cast<SEWideString::value_type>(*p);
  }
  return wide;
}

std::string Narrow(const SEWideString& text) {
  std::string narrow;
  for (auto c : text) narrow += static_cast<char>(static_cast<unsigned char>(c < 256 ? c : '?'));
  return narrow;
}

using setest::BitsFloat;
using setest::FloatBits;

// Datatypes that hold an integer the host can set: the 8-bit and 32-bit codes.
bool IsIntegerType(int32_t datatype) { return datatype == 4 || datatype == 8; }

std::string PinList(const std::vector<PinInfo>& pins) {
  std::string names;
  for (const PinInfo& pin : pins) names += (names.empty() ? "" : ", ") + pin.name;
  return names.empty() ? "(none)" : names;
}

std::string ChoiceList(const PinInfo& pin) {
  std::string text;
  size_t shown = 0;
  for (const Choice& choice : pin.choices) {
    if (shown++ == 16) {
      text += ", …";
      break;
    }
    text += (text.empty() ? "" : ", ") + choice.text + " (" + std::to_string(choice.value) + ")";
  }
  return text.empty() ? "(none)" : text;
}

}  // namespace

bool IsSettable(const PinInfo& pin) { return pin.IsEnum() || pin.datatype == DT_FLOAT || IsIntegerType(pin.datatype); }

void ReadChoices(const char* list, PinInfo* pin) {
  pin->choices.clear();
  pin->choice_count = 0;
  pin->list_problem.clear();
  if (!list) {
    pin->list_problem = "no list (datatype_extra is null)";
    return;
  }
  const SEWideString wide = Widen(list);
  pin->is_range = wide.compare(0, 5, SE_WIDE("range")) == 0;
  if (pin->is_range && (wide.size() < 7 || wide.find(SE_WIDE(','), 6) == SEWideString::npos)) {
    pin->list_problem = "a range needs \"range lo,hi\": a comma after its sixth character";
    return;
  }
  it_enum_list items(wide);
  if (pin->is_range) {
    // The bounds as the reader reads them: from the seventh character, and after the first comma from there.
    pin->range_lo = items.StringToInt(wide.substr(6));
    pin->range_hi = items.StringToInt(wide.substr(wide.find(SE_WIDE(','), 6) + 1));
    pin->choice_count = pin->range_lo <= pin->range_hi ? static_cast<int64_t>(pin->range_hi) - pin->range_lo + 1 : 0;
  }
  int64_t walked = 0;
  for (items.First(); !items.IsDone() && !(pin->is_range && walked == static_cast<int64_t>(kMaxChoices));
       items.Next()) {
    const enum_entry* item = items.CurrentItem();
    if (pin->choices.size() < kMaxChoices) pin->choices.push_back({item->value, Printable(Narrow(item->text).c_str())});
    ++walked;
  }
  if (!pin->is_range) pin->choice_count = walked;
}

PinInfo DescribePin(int32_t index, const SEPinProperties& p) {
  PinInfo pin;
  pin.index = index;
  pin.name = Printable(p.name);
  pin.direction = p.direction;
  pin.datatype = p.datatype;
  pin.flags = p.flags;
  pin.has_extra = p.datatype_extra != nullptr;
  pin.extra = p.datatype_extra ? Printable(p.datatype_extra) : "";
  if (pin.IsEnum()) ReadChoices(p.datatype_extra, &pin);
  return pin;
}

bool ModuleInfo::Read(Session& session, std::string* error) {
  index = session.module_index();
  ModuleProperties properties;
  memset(&properties, 0, sizeof properties);
  if (session.GetProperties(index, &properties) == 0) {
    *error = "the library holds no module " + std::to_string(index) + " (getModuleProperties answered 0)";
    return false;
  }
  name = Printable(properties.name);
  id = Printable(properties.id);
  about = Printable(properties.about, true);
  flags = properties.flags;
  sdk_version = properties.sdk_version;

  if (!session.CreateAudio()) {
    *error = "makeModule(" + std::to_string(index) + ", 1) answered null: the module made no audio half";
    return false;
  }
  std::vector<SEPinProperties> declared = session.host().QueryPins(kMaxPins + 1);
  session.host().CloseAudio();
  pins_cut = declared.size() > static_cast<size_t>(kMaxPins);
  if (pins_cut) declared.resize(static_cast<size_t>(kMaxPins));
  pins.clear();
  for (size_t i = 0; i < declared.size(); ++i) pins.push_back(DescribePin(static_cast<int32_t>(i), declared[i]));
  return true;
}

const PinInfo* ModuleInfo::FindPin(const std::string& key, std::string* error) const {
  for (const PinInfo& pin : pins) {
    if (pin.name == key) return &pin;
  }
  int32_t number;
  if (ParseInt32(key, &number) && number >= 0 && static_cast<size_t>(number) < pins.size()) {
    return &pins[static_cast<size_t>(number)];
  }
  *error = "unknown pin '" + key + "'; the pins are: " + PinList(pins) + " (or their indices 0 to " +
           std::to_string(pins.empty() ? 0 : pins.size() - 1) + ")";
  return nullptr;
}

bool ModuleInfo::ParseValue(const PinInfo& pin, const std::string& text, uint32_t* bits, std::string* error) const {
  if (pin.IsEnum()) {
    for (const Choice& choice : pin.choices) {
      if (choice.text == text) return *bits = static_cast<uint32_t>(choice.value), true;
    }
    for (const Choice& choice : pin.choices) {
      if (EqualsIgnoringCase(choice.text, text)) return *bits = static_cast<uint32_t>(choice.value), true;
    }
    int32_t value;
    if (ParseInt32(text, &value)) {
      if (pin.is_range && pin.list_problem.empty() && value >= pin.range_lo && value <= pin.range_hi) {
        return *bits = static_cast<uint32_t>(value), true;
      }
      for (const Choice& choice : pin.choices) {
        if (choice.value == value) return *bits = static_cast<uint32_t>(value), true;
      }
    }
    *error = "unknown choice '" + text + "' for pin " + pin.name + "; the choices are: " + ChoiceList(pin);
    return false;
  }
  if (pin.datatype == DT_FLOAT) {
    double value;
    if (!ParseDouble(text, &value)) {
      *error = "bad number '" + text + "' for pin " + pin.name + ": expected a decimal number such as 0.5, -2e3, nan or inf";
      return false;
    }
    if (std::isfinite(value) && std::fabs(value) > 3.4028234663852886e38) {
      *error = "number '" + text + "' for pin " + pin.name + " is outside the float range (about ±3.4e38)";
      return false;
    }
    *bits = FloatBits(static_cast<float>(value));
    return true;
  }
  if (IsIntegerType(pin.datatype)) {
    int32_t value;
    if (!ParseInt32(text, &value)) {
      *error = "bad number '" + text + "' for pin " + pin.name + ": expected a 32-bit integer";
      return false;
    }
    *bits = static_cast<uint32_t>(value);
    return true;
  }
  *error = "pin " + pin.name + " has " + DatatypeName(pin.datatype) + ", whose values semhost cannot set";
  return false;
}

std::string ModuleInfo::ChoiceText(const PinInfo& pin, int32_t value) const {
  for (const Choice& choice : pin.choices) {
    if (choice.value == value) return choice.text;
  }
  if (pin.is_range && value >= pin.range_lo && value <= pin.range_hi) return std::to_string(value);
  return "";
}

std::string ModuleInfo::FormatValue(const PinInfo& pin, uint32_t bits) const {
  if (pin.datatype == DT_FLOAT) return FormatFloat(BitsFloat(bits));
  const int32_t value = static_cast<int32_t>(bits);
  if (pin.IsEnum()) {
    const std::string text = ChoiceText(pin, value);
    return text.empty() ? std::to_string(value) + " (not a choice)" : text + " (" + std::to_string(value) + ")";
  }
  return std::to_string(value);
}

std::string ModuleInfo::Text() const {
  std::string out;
  out += "module " + std::to_string(index) + "\n";
  out += "  name         " + name + "\n";
  out += "  id           " + id + "\n";
  char hex[16];
  snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(flags));
  out += "  flags        " + std::string(hex) + " (" + std::to_string(flags) + ")\n";
  out += "  sdk_version  " + std::to_string(sdk_version) + "\n";
  out += "  about        ";
  for (size_t start = 0, line = 0;; ++line) {
    const size_t end = about.find('\n', start);
    const std::string text = about.substr(start, end == std::string::npos ? end : end - start);
    out += (line && !text.empty() ? "               " : "") + text + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  out += "pins (" + std::to_string(pins.size()) + (pins_cut ? ", the list cut there: the module describes more" : "") + ")\n";
  size_t width = 4;
  for (const PinInfo& pin : pins) width = std::max(width, pin.name.size());
  for (const PinInfo& pin : pins) {
    std::string line = "  " + std::to_string(pin.index) + "  " + pin.name + std::string(width - pin.name.size(), ' ');
    std::string direction = DirectionName(pin.direction);
    std::string datatype = DatatypeName(pin.datatype);
    line += "  " + direction + std::string(direction.size() < 6 ? 6 - direction.size() : 0, ' ');
    line += "  " + datatype + std::string(datatype.size() < 10 ? 10 - datatype.size() : 0, ' ');
    line += "  " + PinFlagNames(pin.flags);
    out += line + "\n";
    if (pin.IsEnum()) {
      if (!pin.list_problem.empty()) {
        out += "       list \"" + pin.extra + "\": " + pin.list_problem + "\n";
      } else if (pin.is_range) {
        out += "       choices: range " + std::to_string(pin.range_lo) + " to " + std::to_string(pin.range_hi) + " (" +
               std::to_string(pin.choice_count) + " choices)\n";
      } else {
        out += "       choices: " + ChoiceList(pin) + "\n";
      }
    } else if (pin.has_extra) {
      out += "       extra: \"" + pin.extra + "\"\n";
    }
  }
  return out;
}

nlohmann::json ModuleInfo::Json() const {
  nlohmann::json module = {{"index", index},         {"name", name},  {"id", id},
                           {"about", about},         {"flags", flags}, {"sdk_version", sdk_version}};
  nlohmann::json pin_list = nlohmann::json::array();
  for (const PinInfo& pin : pins) {
    nlohmann::json p = {{"index", pin.index},
                        {"name", pin.name},
                        {"direction", DirectionName(pin.direction)},
                        {"datatype", DatatypeName(pin.datatype)},
                        {"datatype_code", pin.datatype},
                        {"flags", PinFlagList(pin.flags)},
                        {"flags_value", pin.flags}};
    if (pin.has_extra) p["extra"] = pin.extra;
    if (pin.IsEnum()) {
      nlohmann::json list = {{"form", pin.is_range ? "range" : "plain"}, {"count", pin.choice_count}};
      if (!pin.list_problem.empty()) list["problem"] = pin.list_problem;
      if (pin.is_range && pin.list_problem.empty()) list["range"] = {pin.range_lo, pin.range_hi};
      nlohmann::json choices = nlohmann::json::array();
      for (const Choice& choice : pin.choices) choices.push_back({{"value", choice.value}, {"text", choice.text}});
      list["choices"] = choices;
      if (static_cast<int64_t>(pin.choices.size()) < pin.choice_count) list["choices_truncated"] = true;
      p["list"] = list;
    }
    pin_list.push_back(p);
  }
  module["pins"] = pin_list;
  if (pins_cut) module["pins_cut"] = true;
  return module;
}

}  // namespace semhost
