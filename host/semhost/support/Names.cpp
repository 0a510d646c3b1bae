#include "Names.h"

#include <stdio.h>

#include "AudioRecord.h"
#include "GuiRecord.h"
#include "SEPinProperties.h"

namespace semhost {

namespace {

struct Code {
  int32_t code;
  const char* name;
};

// Every code of each family, with its constant's name or a description for
// the codes the interface gives no name.
constexpr Code kAudioOps[] = {
    {OP_OPEN, "OP_OPEN"},
    {OP_CLOSE, "OP_CLOSE"},
    {OP_SET_SAMPLE_RATE, "OP_SET_SAMPLE_RATE"},
    {OP_SET_BLOCK_SIZE, "OP_SET_BLOCK_SIZE"},
    {4, "audio opcode 4"},
    {5, "audio opcode 5"},
    {OP_GET_PIN_PROPERTIES, "OP_GET_PIN_PROPERTIES"},
    {OP_NOTIFY, "OP_NOTIFY"},
    {9, "audio opcode 9"},
    {11, "audio opcode 11"},
    {OP_COMMAND, "OP_COMMAND"},
    {OP_GET_PROCESS_FUNCTION_INFO, "OP_GET_PROCESS_FUNCTION_INFO"},
};
constexpr Code kGuiOps[] = {
    {GUI_OP_OPEN, "GUI_OP_OPEN"},
    {GUI_OP_CLOSE, "GUI_OP_CLOSE"},
    {2, "GUI opcode 2"},
    {3, "GUI opcode 3"},
    {4, "GUI opcode 4"},
    {5, "GUI opcode 5"},
    {6, "GUI opcode 6"},
    {GUI_OP_PIN_VALUE_CHANGE, "GUI_OP_PIN_VALUE_CHANGE"},
    {8, "GUI opcode 8"},
    {9, "GUI opcode 9"},
    {10, "GUI opcode 10"},
    {11, "GUI opcode 11"},
    {12, "GUI opcode 12"},
};
constexpr Code kAudioCallbacks[] = {
    {HC_PIN_DATA, "HC_PIN_DATA"},
    {HC_PIN_QUERY, "HC_PIN_QUERY"},
    {HC_GET_SAMPLE_CLOCK, "HC_GET_SAMPLE_CLOCK"},
    {HC_PIN_STATUS, "HC_PIN_STATUS"},
    {HC_GET_PIN_BUFFER, "HC_GET_PIN_BUFFER"},
    {HC_GET_BLOCK_START, "HC_GET_BLOCK_START"},
    {10, "audio callback 10"},
    {HC_GET_PIN_COUNT, "HC_GET_PIN_COUNT"},
    {HC_ADD_EVENT, "HC_ADD_EVENT"},
    {HC_PROCESS_FUNCTION_CHANGED, "HC_PROCESS_FUNCTION_CHANGED"},
};
constexpr Code kGuiCallbacks[] = {
    {GUI_HC_SET_PIN_TEXT, "GUI_HC_SET_PIN_TEXT"},
    {GUI_HC_GET_PIN_TEXT, "GUI_HC_GET_PIN_TEXT"},
    {8, "GUI callback 8"},
    {GUI_HC_GET_PIN_VALUE, "GUI_HC_GET_PIN_VALUE"},
    {GUI_HC_SET_PIN_VALUE, "GUI_HC_SET_PIN_VALUE"},
    {GUI_HC_GET_PIN_TEXT_W, "GUI_HC_GET_PIN_TEXT_W"},
    {18, "GUI callback 18"},
    {19, "GUI callback 19"},
    {20, "GUI callback 20"},
};

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
  if (direction == DR_IN) return "DR_IN";
  if (direction == DR_OUT) return "DR_OUT";
  return "direction " + std::to_string(direction);
}

std::string DatatypeName(int32_t datatype) {
  if (datatype == DT_ENUM) return "DT_ENUM";
  if (datatype == DT_FSAMPLE) return "DT_FSAMPLE";
  if (datatype == DT_FLOAT) return "DT_FLOAT";
  return "datatype " + std::to_string(datatype);
}

std::vector<std::string> PinFlagList(int32_t flags) {
  static constexpr Code kFlags[] = {
      {IO_REPEATING, "IO_REPEATING"},   {IO_PRIVATE, "IO_PRIVATE"},         {IO_UI_COMMUNICATION, "IO_UI_COMMUNICATION"},
      {IO_UI_AND_DSP, "IO_UI_AND_DSP"}, {IO_PATCH_STORE, "IO_PATCH_STORE"},
  };
  std::vector<std::string> names;
  uint32_t rest = static_cast<uint32_t>(flags);
  for (const Code& flag : kFlags) {
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
