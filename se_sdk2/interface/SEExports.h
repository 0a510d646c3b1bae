#pragma once
// What a module library exports: the two functions a host looks up by name,
// and the properties record the first one fills.

#include "se_boundary.h"
#include "se_codes.h"

// Marks a library's exported entry points. On Windows the export table is
// also fixed by the module kit's definition file; elsewhere everything else
// in the library is hidden.
#ifdef __cplusplus
#define SE__EXTERN_C extern "C"
#else
#define SE__EXTERN_C
#endif
#if defined(_WIN32)
#define SE_EXPORT SE__EXTERN_C __declspec(dllexport)  // an exported entry point, C linkage
#else
#define SE_EXPORT SE__EXTERN_C __attribute__((visibility("default")))  // an exported entry point, C linkage
#endif

// Filled by getModuleProperties in the host's memory: the host owns the record,
// the library owns the texts, which stay valid while it is loaded. 24 bytes on
// 32-bit targets; on 64-bit builds the three text pointers are 8 bytes each.
typedef struct ModuleProperties {
  const char* name;     // NUL-terminated 8-bit name, a constant of the library
  const char* id;       // NUL-terminated 8-bit identifier, a constant of the library
  const char* about;    // NUL-terminated 8-bit about text, lines separated by a line feed
  int32_t host_word;    // never written by the module: keeps what the host put there
  int32_t flags;        // module flags
  int32_t sdk_version;  // written first, for every index
} ModuleProperties;

#if SE_RECORDS_ARE_32BIT
SE_STATIC_ASSERT(sizeof(ModuleProperties) == 24, "ModuleProperties is 24 bytes on 32-bit targets");
SE_STATIC_ASSERT(offsetof(ModuleProperties, name) == 0, "name at 0");
SE_STATIC_ASSERT(offsetof(ModuleProperties, id) == 4, "id at 4");
SE_STATIC_ASSERT(offsetof(ModuleProperties, about) == 8, "about at 8");
SE_STATIC_ASSERT(offsetof(ModuleProperties, host_word) == 12, "host word at 12");
SE_STATIC_ASSERT(offsetof(ModuleProperties, flags) == 16, "flags at 16");
SE_STATIC_ASSERT(offsetof(ModuleProperties, sdk_version) == 20, "sdk_version at 20");
#endif

// getModuleProperties(index, properties) (host → library): fills the record
// for module `index`; answers 1 if the library has that module, else 0. The
// whole 32-bit answer is 0 or 1. It touches nothing but the host's record and
// may be called on any thread.
typedef int32_t (*SEGetModuleProperties)(int32_t index, ModuleProperties* properties);
// makeModule(index, type, seaudioMaster, host_context) (host → library):
// creates one half (type MT_AUDIO or MT_GUI, table SE_HALF_TYPES) of module
// `index` and answers the address of its record, or null. The instance then
// belongs to the host, which ends it with the record's close opcode. Called on
// the thread that will drive that half: a GUI half already calls the host
// (through the pin handle all GUI halves share) while it is built, so GUI
// halves are made on the thread that drives the GUI halves, never while
// another GUI half runs.
typedef void* (*SEMakeModule)(int32_t index, int32_t type, SEHostCallback seaudioMaster, int32_t host_context);
