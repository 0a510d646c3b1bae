#include "ModuleEntry.h"

#include <new>

#include "GuiModule.h"
#include "Module.h"

namespace {

constexpr const char kName[] = "QV_Zolvexan";
constexpr const char kAbout[] =
    "Copyright (c) 2026 the QV_Zolvexan developers. All rights reserved.\n"
    "\n"
    "Math module.\n"
    "\n"
    "reference : https://pubs.opengroup.org/onlinepubs/9699919799/basedefs/math.h.html";
constexpr int32_t kFlags = 256;
constexpr int32_t kSdkVersion = 2230;

constexpr int32_t kAudioHalf = 1;
constexpr int32_t kGuiHalf = 2;

}  // namespace

int32_t getModuleProperties(int32_t index, ModuleProperties* properties) {
  if (!properties) return 0;
  properties->sdk_version = kSdkVersion;
  if (index != 0) return 0;
  properties->name = kName;
  properties->id = kName;
  properties->about = kAbout;
  properties->flags = kFlags;
  return 1;
}

void* makeModule(int32_t index, int32_t type, SEHostCallback seaudioMaster, int32_t host_context) {
  if (index != 0) return nullptr;
  // Nothing may leave through an exception: a failed allocation answers null
  // (before any constructor ran, so the host was not called).
  try {
    if (type == kAudioHalf) {
      Module* module = new (std::nothrow) Module(seaudioMaster, host_context);
      return module ? module->Record() : nullptr;
    }
    if (type == kGuiHalf) {
      GuiModule* module = new (std::nothrow) GuiModule(seaudioMaster, host_context);
      return module ? module->Record() : nullptr;
    }
  } catch (...) {
  }
  return nullptr;
}
