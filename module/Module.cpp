#include "Module.h"

Module::Module(SEHostCallback callback, int32_t host_context) : SEModule_base(callback, host_context) {}

Module::~Module() = default;

void Module::Open() {
  SetProcessFunction(ProcessFunction<&Module::Process>());
  SEModule_base::Open();
}

bool Module::GetPinProperties(int32_t index, SEPinProperties* properties) {
  if (index < 0 || index >= PIN_COUNT) return false;
  const Declaration& pin = kPins[index];
  properties->name = pin.name;
  properties->direction = pin.direction;
  properties->datatype = pin.datatype;
  if (pin.choices) properties->datatype_extra = pin.choices;
  properties->flags = pin.flags;
  return true;
}

void Module::Process(int32_t, int32_t) { CallHost(HC_CODE_10, 0, 0, nullptr, 0.0f); }
