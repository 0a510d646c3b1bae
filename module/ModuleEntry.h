#pragma once
// The library's two exported entry points (host → library). The library holds
// one module, number 0, the math module "QV_Zolvexan".

#include "SEExports.h"

// Writes 2230 into sdk_version for every index, then, for index 0 only, the
// name, identifier, about text and flags 256, and answers 1; any other index
// answers 0 with nothing else written. The word at offset 12 is never
// written. A null record answers 0.
SE_EXPORT int32_t getModuleProperties(int32_t index, ModuleProperties* properties);

// Index 0, type 1: a new Module, answering its audio record; type 2: a new
// GuiModule (which reads "Mode" and "X" through seaudioMaster while it is
// built), answering its GUI record. Anything else, or a failed allocation,
// answers null having allocated nothing and called nothing.
SE_EXPORT void* makeModule(int32_t index, int32_t type, SEHostCallback seaudioMaster, int32_t host_context);
