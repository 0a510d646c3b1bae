#pragma once
// What several families of checks share: limits, the module's pins as the
// checks see them, values for input pins, and starting a session.

#include <stdint.h>

#include <limits>
#include <string>
#include <vector>

#include "CheckContext.h"
#include "ModuleInfo.h"
#include "SeededRandom.h"
#include "Session.h"
#include "se_codes.h"

namespace semhost {

constexpr int32_t kPinLimit = kMaxPins;  // pins are read until the first false, at most this many
constexpr int32_t kMinInt = std::numeric_limits<int32_t>::min();
constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();

// The interface's code tables that the checks walk.
constexpr SECode kAudioOpcodeTable[] = {SE_AUDIO_OPCODES(SE_OPCODE_ROW)};
constexpr SECode kGuiOpcodeTable[] = {SE_GUI_OPCODES(SE_OPCODE_ROW)};
constexpr SECode kHalfTypeTable[] = {SE_HALF_TYPES(SE_CODE_ROW)};

// True when `code` is a row of `table`.
template <size_t N>
constexpr bool InTable(const SECode (&table)[N], int32_t code) {
  for (const SECode& row : table) {
    if (row.value == code) return true;
  }
  return false;
}

// "makeModule(index, type)", as the checks' messages name the call.
std::string MakeModuleCall(int32_t index, int32_t type);

// The pins of the module as a fresh audio half declares them.
std::vector<PinInfo> Describe(const std::vector<SEPinProperties>& pins);

// A value for an input pin: a choice of an enumerated pin, a float, else an integer.
uint32_t SomeValue(const PinInfo& pin, setest::SeededRandom& random);

// Inputs semhost can set.
std::vector<const PinInfo*> SettableInputs(const std::vector<PinInfo>& pins);

// Output pins the GUI half writes: outputs that are GUI pins.
std::vector<const PinInfo*> GuiOutputs(const std::vector<PinInfo>& pins);

std::string Join(const std::vector<std::string>& parts, const char* separator);

// Starts the session as a host does; on failure the check fails with the reason.
bool StartOrFail(CheckContext& ctx, Session& session);

}  // namespace semhost
