// A tiny module: its GUI half writes twice "X" to "Result".

#include "SEExports.h"
#include "SEGUI_base.h"
#include "SEModuleEntry.h"
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

// The library holds one module, number 0.
constexpr SEModuleEntry kModules[] = {
    SEModuleEntryOf<KitAudio, KitGui>("KitDemo", "KitDemo", "A module built with the kit.", 0)};

}  // namespace

// The two exports: the framework keeps their rules (unknown index or type,
// a null record, failed allocation, no exception into the host).
SE_MODULE_EXPORTS(kModules)
