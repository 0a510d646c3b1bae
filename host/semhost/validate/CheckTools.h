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

namespace semhost {

constexpr int32_t kPinLimit = 1024;  // pins are read until the first false, at most this many
constexpr int32_t kMinInt = std::numeric_limits<int32_t>::min();
constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();

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
