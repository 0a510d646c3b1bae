#include "SEModuleEntry.h"

namespace {

// The module at `index`, or null for an index the library does not hold.
const SEModuleEntry* Held(const SEModuleEntry* modules, size_t count, int32_t index) {
  if (!modules || index < 0 || static_cast<size_t>(index) >= count) return nullptr;
  return &modules[index];
}

}  // namespace

int32_t SEFillModuleProperties(const SEModuleEntry* modules, size_t count, int32_t index,
                              ModuleProperties* properties) noexcept {
  if (!properties) return 0;
  properties->sdk_version = SE_SDK_VERSION;
  const SEModuleEntry* module = Held(modules, count, index);
  if (!module) return 0;
  properties->name = module->name;
  properties->id = module->id;
  properties->about = module->about;
  properties->flags = module->flags;
  return 1;
}

void* SECreateHalf(const SEModuleEntry* modules, size_t count, int32_t index, int32_t type,
                   SEHostCallback seaudioMaster, int32_t host_context) noexcept {
  const SEModuleEntry* module = Held(modules, count, index);
  if (!module) return nullptr;
  SEHalfFactory make = nullptr;
  if (type == MT_AUDIO) make = module->make_audio;
  if (type == MT_GUI) make = module->make_gui;
  if (!make) return nullptr;
  try {
    return make(seaudioMaster, host_context);
  } catch (...) {
    return nullptr;  // a constructor's exception must not reach the host
  }
}
