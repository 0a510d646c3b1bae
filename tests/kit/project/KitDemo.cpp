// A tiny module: its GUI half writes twice "X" to "Result".

#include <new>

#include "SEExports.h"
#include "SEGUI_base.h"
#include "SEModule_base.h"

namespace {

class KitAudio : public SEModule_base {
 public:
  using SEModule_base::SEModule_base;
  bool GetPinProperties(int32_t index, SEPinProperties* p) override {
    if (index < 0 || index > 1) return false;
    p->name = index == 0 ? "X" : "Result";
    p->direction = index == 0 ? DR_IN : DR_OUT;
    p->datatype = DT_FLOAT;
    p->flags = IO_UI_COMMUNICATION;
    return true;
  }
};

class KitGui : public SEGUI_base {
 public:
  using SEGUI_base::SEGUI_base;
  // GetPin hands out one shared handle: read first, then take the handle to write.
  void OnPinValueChange(GuiPin*) override {
    const float x = GetPin(0)->GetValueFloat();
    GetPin(1)->SetValueFloat(2.0f * x);
  }
};

}  // namespace

SE_EXPORT int32_t getModuleProperties(int32_t index, ModuleProperties* properties) {
  properties->sdk_version = 2230;
  if (index != 0) return 0;
  properties->name = properties->id = "KitDemo";
  properties->about = "A module built with the kit.";
  properties->flags = 0;
  return 1;
}

SE_EXPORT void* makeModule(int32_t index, int32_t type, SEHostCallback host, int32_t context) {
  if (index != 0) return nullptr;
  if (type == 1) {
    auto* m = new (std::nothrow) KitAudio(host, context);
    return m ? m->Record() : nullptr;
  }
  if (type == 2) {
    auto* m = new (std::nothrow) KitGui(host, context);
    return m ? m->Record() : nullptr;
  }
  return nullptr;
}
