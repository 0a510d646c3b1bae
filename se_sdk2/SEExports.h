#pragma once
// What a module library exports: the two functions a host looks up by name,
// and the properties record the first one fills.

#include "se_boundary.h"

// Marks a library's exported entry points. On Windows the export table is
// also fixed by the module kit's definition file; elsewhere everything else
// in the library is hidden.
#if defined(_WIN32)
#define SE_EXPORT extern "C" __declspec(dllexport)
#else
#define SE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Filled by getModuleProperties in the host's memory. 24 bytes on 32-bit
// targets; on 64-bit builds the three text pointers are 8 bytes each.
struct ModuleProperties {
  const char* name;     // NUL-terminated 8-bit name, a constant of the library
  const char* id;       // NUL-terminated 8-bit identifier, a constant of the library
  const char* about;    // NUL-terminated 8-bit about text, lines separated by a line feed
  int32_t host_word;    // never written by the module: keeps what the host put there
  int32_t flags;        // module flags
  int32_t sdk_version;  // written first, for every index
};

#if SE_RECORDS_ARE_32BIT
static_assert(sizeof(ModuleProperties) == 24, "ModuleProperties is 24 bytes on 32-bit targets");
static_assert(offsetof(ModuleProperties, name) == 0, "name at 0");
static_assert(offsetof(ModuleProperties, id) == 4, "id at 4");
static_assert(offsetof(ModuleProperties, about) == 8, "about at 8");
static_assert(offsetof(ModuleProperties, host_word) == 12, "host word at 12");
static_assert(offsetof(ModuleProperties, flags) == 16, "flags at 16");
static_assert(offsetof(ModuleProperties, sdk_version) == 20, "sdk_version at 20");
#endif

// getModuleProperties(index, properties) (host → library): fills the record
// for module `index`; answers 1 if the library has that module, else 0. The
// whole 32-bit answer is 0 or 1.
typedef int32_t (*SEGetModuleProperties)(int32_t index, ModuleProperties* properties);
// makeModule(index, type, seaudioMaster, host_context) (host → library):
// creates one half (type 1 audio, 2 GUI) of module `index` and answers the
// address of its record, or null. The instance then belongs to the host,
// which ends it with the record's close opcode.
typedef void* (*SEMakeModule)(int32_t index, int32_t type, SEHostCallback seaudioMaster, int32_t host_context);
