#include "Module.h"

namespace {

// The host callback opcode Process sends on every run.
constexpr int32_t kProcessRan = 10;

}  // namespace

Module::Module(SEHostCallback callback, int32_t host_context) : SEModule_base(callback, host_context) {}

Module::~Module() = default;

void Module::Open() {
  SetProcessFunction(ProcessFunction<&Module::Process>());
  SEModule_base::Open();
}

bool Module::GetPinProperties(int32_t index, SEPinProperties* properties) {
  switch (index) {
    case 0:
      properties->name = "Mode";
      properties->direction = DR_IN;
      properties->datatype = DT_ENUM;
      properties->datatype_extra = "cos,sin,sqrt,tan";
      properties->flags = IO_UI_COMMUNICATION;
      return true;
    case 1:
      properties->name = "X";
      properties->direction = DR_IN;
      properties->datatype = DT_FLOAT;
      properties->flags = IO_UI_COMMUNICATION;
      return true;
    case 2:
      properties->name = "Result";
      properties->direction = DR_OUT;
      properties->datatype = DT_FLOAT;
      properties->flags = IO_UI_COMMUNICATION;
      return true;
    default:
      return false;
  }
}

void Module::Process(int32_t, int32_t) { CallHost(kProcessRan, 0, 0, nullptr, 0.0f); }
