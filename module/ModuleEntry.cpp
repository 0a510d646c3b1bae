#include "ModuleEntry.h"

#include "GuiModule.h"
#include "Module.h"
#include "SEModuleEntry.h"

namespace {

constexpr const char kName[] = "QV_Zolvexan";
constexpr const char kAbout[] =
    "Copyright (c) 2026 the QV_Zolvexan developers. All rights reserved.\n"
    "\n"
    "Math module.\n"
    "\n"
    "reference : https://pubs.opengroup.org/onlinepubs/9699919799/basedefs/math.h.html";
constexpr int32_t kFlags = 256;

// The library holds one module, number 0.
constexpr SEModuleEntry kModules[] = {SEModuleEntryOf<Module, GuiModule>(kName, kName, kAbout, kFlags)};

}  // namespace

int32_t getModuleProperties(int32_t index, ModuleProperties* properties) {
  return SEFillModuleProperties(kModules, index, properties);
}

void* makeModule(int32_t index, int32_t type, SEHostCallback seaudioMaster, int32_t host_context) {
  return SECreateHalf(kModules, index, type, seaudioMaster, host_context);
}
