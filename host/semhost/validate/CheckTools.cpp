#include "CheckTools.h"

#include "FloatBits.h"

namespace semhost {

std::vector<PinInfo> Describe(const std::vector<SEPinProperties>& pins) {
  std::vector<PinInfo> out;
  for (size_t i = 0; i < pins.size(); ++i) out.push_back(DescribePin(static_cast<int32_t>(i), pins[i]));
  return out;
}

uint32_t SomeValue(const PinInfo& pin, setest::SeededRandom& random) {
  if (pin.IsEnum()) {
    if (!pin.choices.empty() && random.Below(8) != 0) {
      return static_cast<uint32_t>(pin.choices[random.Below(static_cast<uint32_t>(pin.choices.size()))].value);
    }
    return static_cast<uint32_t>(random.Between(-2, 70000));
  }
  if (pin.datatype == DT_FLOAT) return setest::FloatBits(random.Float());
  return static_cast<uint32_t>(random.Between(-1000, 1000));
}

std::vector<const PinInfo*> SettableInputs(const std::vector<PinInfo>& pins) {
  std::vector<const PinInfo*> out;
  for (const PinInfo& pin : pins) {
    if (pin.IsInput() && IsSettable(pin)) out.push_back(&pin);
  }
  return out;
}

std::vector<const PinInfo*> GuiOutputs(const std::vector<PinInfo>& pins) {
  std::vector<const PinInfo*> out;
  for (const PinInfo& pin : pins) {
    if (pin.IsOutput() && (pin.flags & IO_UI_COMMUNICATION)) out.push_back(&pin);
  }
  return out;
}

std::string MakeModuleCall(int32_t index, int32_t type) {
  return "makeModule(" + std::to_string(index) + ", " + std::to_string(type) + ")";
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : separator) + part;
  return out;
}

bool StartOrFail(CheckContext& ctx, Session& session) {
  std::string error;
  if (session.Start(&error)) return true;
  ctx.Fail(error);
  return false;
}

}  // namespace semhost
