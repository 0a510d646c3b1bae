#include "Names.h"

#include <stdio.h>

#include "se_codes.h"

namespace semhost {

namespace {

struct Code {
  int32_t code;
  const char* name;
};

// Every code of each family that the interface defines, from the interface's
// tables: a named code by its constant, an unnamed one by a description
// ("audio opcode 4"). Codes the receiver treats as contract violations are
// outside the interface and left out.
#define SEMHOST_ROW(word, name, value, kind, meaning) \
  {value, SE_CODE_##kind == SE_CODE_NAMED ? #name : word " " #value},
#define SEMHOST_AUDIO_OP(name, value, kind, args, meaning) \
  SEMHOST_KEEP_##kind(SEMHOST_ROW("audio opcode", name, value, kind, meaning))
#define SEMHOST_GUI_OP(name, value, kind, args, meaning) \
  SEMHOST_KEEP_##kind(SEMHOST_ROW("GUI opcode", name, value, kind, meaning))
#define SEMHOST_AUDIO_CALLBACK(name, value, kind, args, meaning) \
  SEMHOST_KEEP_##kind(SEMHOST_ROW("audio callback", name, value, kind, meaning))
#define SEMHOST_GUI_CALLBACK(name, value, kind, args, meaning) \
  SEMHOST_KEEP_##kind(SEMHOST_ROW("GUI callback", name, value, kind, meaning))
#define SEMHOST_NAMED_CODE(name, value, kind, meaning) SEMHOST_KEEP_##kind({value, #name},)
#define SEMHOST_KEEP_NAMED(...) __VA_ARGS__
#define SEMHOST_KEEP_UNNAMED(...) __VA_ARGS__
#define SEMHOST_KEEP_VIOLATION(...)

constexpr Code kAudioOps[] = {SE_AUDIO_OPCODES(SEMHOST_AUDIO_OP)};
constexpr Code kGuiOps[] = {SE_GUI_OPCODES(SEMHOST_GUI_OP)};
constexpr Code kAudioCallbacks[] = {SE_AUDIO_HOST_CALLS(SEMHOST_AUDIO_CALLBACK)};
constexpr Code kGuiCallbacks[] = {SE_GUI_HOST_CALLS(SEMHOST_GUI_CALLBACK)};
constexpr Code kDirections[] = {SE_DIRECTIONS(SEMHOST_NAMED_CODE)};
constexpr Code kPinFlags[] = {SE_PIN_FLAGS(SEMHOST_NAMED_CODE)};

// Datatypes and event types print a name only for the named codes.
#define SEMHOST_NAME_ONLY(name, value, kind, meaning) SEMHOST_NAME_##kind(name, value)
#define SEMHOST_NAME_NAMED(name, value) {value, #name},
#define SEMHOST_NAME_UNNAMED(name, value)
constexpr Code kDatatypes[] = {SE_DATATYPES(SEMHOST_NAME_ONLY)};
constexpr Code kEventTypes[] = {SE_EVENT_TYPES(SEMHOST_NAME_ONLY)};

template <size_t N>
const char* Find(const Code (&codes)[N], int32_t code) {
  for (const Code& c : codes) {
    if (c.code == code) return c.name;
  }
  return nullptr;
}

const char* FindIn(Family family, int32_t code) {
  switch (family) {
    case Family::kAudioOp: return Find(kAudioOps, code);
    case Family::kGuiOp: return Find(kGuiOps, code);
    case Family::kAudioCallback: return Find(kAudioCallbacks, code);
    case Family::kGuiCallback: return Find(kGuiCallbacks, code);
  }
  return nullptr;
}

const char* FamilyWord(Family family) {
  switch (family) {
    case Family::kAudioOp: return "audio opcode";
    case Family::kGuiOp: return "GUI opcode";
    case Family::kAudioCallback: return "audio callback";
    case Family::kGuiCallback: return "GUI callback";
  }
  return "opcode";
}

template <size_t N>
std::vector<int32_t> CodesOf(const Code (&codes)[N]) {
  std::vector<int32_t> out;
  for (const Code& c : codes) out.push_back(c.code);
  return out;
}

}  // namespace

const char* OpcodeConstant(Family family, int32_t opcode) { return FindIn(family, opcode); }

std::string OpcodeName(Family family, int32_t opcode) {
  const char* name = FindIn(family, opcode);
  return name ? name : "";
}

std::string OpcodeLabel(Family family, int32_t opcode) {
  const char* name = FindIn(family, opcode);
  if (name) return name;
  return std::string(FamilyWord(family)) + " " + std::to_string(opcode) + " (outside the interface)";
}

bool IsInterfaceOpcode(Family family, int32_t opcode) { return FindIn(family, opcode) != nullptr; }

std::vector<int32_t> InterfaceOpcodes(Family family) {
  switch (family) {
    case Family::kAudioOp: return CodesOf(kAudioOps);
    case Family::kGuiOp: return CodesOf(kGuiOps);
    case Family::kAudioCallback: return CodesOf(kAudioCallbacks);
    case Family::kGuiCallback: return CodesOf(kGuiCallbacks);
  }
  return {};
}

std::string DirectionName(int32_t direction) {
  const char* name = Find(kDirections, direction);
  return name ? name : "direction " + std::to_string(direction);
}

std::string DatatypeName(int32_t datatype) {
  const char* name = Find(kDatatypes, datatype);
  return name ? name : "datatype " + std::to_string(datatype);
}

std::string EventTypeName(int32_t type) {
  const char* name = Find(kEventTypes, type);
  return name ? name : "event type " + std::to_string(type);
}

unsigned ArgumentsOf(Family family, int32_t opcode) {
  static constexpr struct {
    Family family;
    int32_t code;
    unsigned args;
  } kArgs[] = {
#define SEMHOST_ARGS_OF(family, name, value, kind, args, meaning) {family, value, args},
#define SEMHOST_AUDIO_OP_ARGS(...) SEMHOST_ARGS_OF(Family::kAudioOp, __VA_ARGS__)
#define SEMHOST_GUI_OP_ARGS(...) SEMHOST_ARGS_OF(Family::kGuiOp, __VA_ARGS__)
#define SEMHOST_AUDIO_CALLBACK_ARGS(...) SEMHOST_ARGS_OF(Family::kAudioCallback, __VA_ARGS__)
#define SEMHOST_GUI_CALLBACK_ARGS(...) SEMHOST_ARGS_OF(Family::kGuiCallback, __VA_ARGS__)
      SE_AUDIO_OPCODES(SEMHOST_AUDIO_OP_ARGS) SE_GUI_OPCODES(SEMHOST_GUI_OP_ARGS)
      SE_AUDIO_HOST_CALLS(SEMHOST_AUDIO_CALLBACK_ARGS) SE_GUI_HOST_CALLS(SEMHOST_GUI_CALLBACK_ARGS)
  };
  for (const auto& row : kArgs) {
    if (row.family == family && row.code == opcode) return row.args;
  }
  return SE_ARG_NONE;
}

std::vector<std::string> PinFlagList(int32_t flags) {
  std::vector<std::string> names;
  uint32_t rest = static_cast<uint32_t>(flags);
  for (const Code& flag : kPinFlags) {
    if (rest & static_cast<uint32_t>(flag.code)) {
      names.push_back(flag.name);
      rest &= ~static_cast<uint32_t>(flag.code);
    }
  }
  if (rest) {
    char hex[16];
    snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(rest));
    names.push_back(hex);
  }
  return names;
}

std::string PinFlagNames(int32_t flags) {
  std::string out;
  for (const std::string& name : PinFlagList(flags)) out += (out.empty() ? "" : "|") + name;
  return out.empty() ? "0" : out;
}

}  // namespace semhost
