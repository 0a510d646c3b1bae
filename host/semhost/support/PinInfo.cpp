#include "PinInfo.h"

#include "Names.h"
#include "Text.h"
#include "it_enum_list.h"

namespace semhost {

namespace {

// The list's 8-bit characters as the framework's 16-bit wide text, each byte
// one character (the Western code page's first 256 code points).
SEWideString Widen(const char* text) {
  SEWideString wide;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) wide += static_cast<SEWideString::value_type>(*p);
  return wide;
}

std::string Narrow(const SEWideString& text) {
  std::string narrow;
  for (auto c : text) narrow += static_cast<char>(static_cast<unsigned char>(c < 256 ? c : '?'));
  return narrow;
}

// `text` padded with spaces to `width` characters.
std::string Padded(const std::string& text, size_t width) {
  return text + std::string(text.size() < width ? width - text.size() : 0, ' ');
}

}  // namespace

PinInfo PinInfo::FromRecord(int32_t index, const SEPinProperties& p) {
  PinInfo pin;
  pin.index = index;
  pin.name = Printable(p.name);
  pin.direction = p.direction;
  pin.datatype = p.datatype;
  pin.flags = p.flags;
  pin.has_extra = p.datatype_extra != nullptr;
  pin.extra = p.datatype_extra ? Printable(p.datatype_extra) : "";
  pin.has_variable = p.variable_address != nullptr;
  return pin;
}

std::string PinInfo::DirectionName() const { return semhost::DirectionName(direction); }
std::string PinInfo::DatatypeName() const { return semhost::DatatypeName(datatype); }
std::string PinInfo::FlagNames() const { return PinFlagNames(flags); }
std::vector<std::string> PinInfo::FlagList() const { return PinFlagList(flags); }

std::string PinInfo::Label() const { return "pin " + std::to_string(index) + " \"" + name + "\""; }

std::string PinInfo::RecordText() const {
  std::string text = "{name=\"" + name + "\" " + DirectionName() + " " + DatatypeName() + " " + FlagNames();
  if (has_extra) text += " extra=\"" + extra + "\"";
  if (has_variable) text += " variable=non-null";
  return text + "}";
}

std::string PinInfo::ChoiceList() const {
  std::string text;
  size_t shown = 0;
  for (const Choice& choice : choices) {
    if (shown++ == 16) {
      text += ", …";
      break;
    }
    text += (text.empty() ? "" : ", ") + choice.text + " (" + std::to_string(choice.value) + ")";
  }
  return text.empty() ? "(none)" : text;
}

std::string PinInfo::TableLines(size_t name_width) const {
  std::string out = "  " + std::to_string(index) + "  " + Padded(name, name_width);
  out += "  " + Padded(DirectionName(), 6) + "  " + Padded(DatatypeName(), 10) + "  " + FlagNames() + "\n";
  if (IsEnum()) {
    if (!list_problem.empty()) {
      out += "       list \"" + extra + "\": " + list_problem + "\n";
    } else if (is_range) {
      out += "       choices: range " + std::to_string(range_lo) + " to " + std::to_string(range_hi) + " (" +
             std::to_string(choice_count) + " choices)\n";
    } else {
      out += "       choices: " + ChoiceList() + "\n";
    }
  } else if (has_extra) {
    out += "       extra: \"" + extra + "\"\n";
  }
  return out;
}

nlohmann::json PinInfo::Json() const {
  nlohmann::json p = {{"index", index},
                      {"name", name},
                      {"direction", DirectionName()},
                      {"datatype", DatatypeName()},
                      {"datatype_code", datatype},
                      {"flags", FlagList()},
                      {"flags_value", flags}};
  if (has_extra) p["extra"] = extra;
  if (IsEnum()) {
    nlohmann::json list = {{"form", is_range ? "range" : "plain"}, {"count", choice_count}};
    if (!list_problem.empty()) list["problem"] = list_problem;
    if (is_range && list_problem.empty()) list["range"] = {range_lo, range_hi};
    nlohmann::json listed = nlohmann::json::array();
    for (const Choice& choice : choices) listed.push_back({{"value", choice.value}, {"text", choice.text}});
    list["choices"] = listed;
    if (static_cast<int64_t>(choices.size()) < choice_count) list["choices_truncated"] = true;
    p["list"] = list;
  }
  return p;
}

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
  PinInfo pin = PinInfo::FromRecord(index, p);
  if (pin.IsEnum()) ReadChoices(p.datatype_extra, &pin);
  return pin;
}

}  // namespace semhost
