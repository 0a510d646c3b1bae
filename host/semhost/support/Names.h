#pragma once
// Names of the interface's codes, for every output semhost writes: opcodes of
// both halves in both directions, datatypes, directions, pin flags and event
// types, all read from the interface's code tables (se_codes.h).

#include <stdint.h>

#include <string>
#include <vector>

namespace semhost {

// Which opcode family a number belongs to.
enum class Family : uint8_t {
  kAudioOp,        // host → audio half, AudioRecord::dispatcher
  kGuiOp,          // host → GUI half, GuiRecord::dispatcher
  kAudioCallback,  // audio half → host
  kGuiCallback,    // GUI half → host
};

// The constant's name ("GUI_OP_PIN_VALUE_CHANGE"), or for a code the
// interface has without a name a descriptive one ("audio opcode 4"), or "" for
// a code outside the interface.
std::string OpcodeName(Family family, int32_t opcode);
// The same as a static text, or null: safe to use where nothing may be allocated.
const char* OpcodeConstant(Family family, int32_t opcode);
// The name, or "<family> opcode N (outside the interface)" when there is none.
std::string OpcodeLabel(Family family, int32_t opcode);
// True for every code the interface defines in that family.
bool IsInterfaceOpcode(Family family, int32_t opcode);
// Every code the interface defines in that family, ascending.
std::vector<int32_t> InterfaceOpcodes(Family family);

// Which of index, value, ptr and opt the opcode uses (SE_ARG_… bits); 0 for
// a code outside the interface.
unsigned ArgumentsOf(Family family, int32_t opcode);

std::string DirectionName(int32_t direction);  // "DR_IN", "DR_OUT", else "direction N"
std::string DatatypeName(int32_t datatype);    // "DT_ENUM", "DT_FSAMPLE", "DT_FLOAT", else "datatype N"
// "IO_UI_COMMUNICATION|IO_PATCH_STORE", unknown bits as hex ("0x20"), "0" for none.
std::string PinFlagNames(int32_t flags);
std::vector<std::string> PinFlagList(int32_t flags);
std::string EventTypeName(int32_t type);       // "EVT_RUN_FUNCTION", else "event type N"

}  // namespace semhost
