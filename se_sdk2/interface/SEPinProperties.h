#pragma once
// How a module describes one pin to the host.

#include "se_boundary.h"
#include "se_codes.h"

typedef struct SEPinProperties SEPinProperties;  // the record by its plain name, in C too

// One pin's description, filled by the module in the caller's memory. A module
// writes only the fields it needs; the framework's own queries clear it first.
// 32 bytes on 32-bit targets; on 64-bit builds the three pointers are 8 bytes.
struct SEPinProperties {
  void* variable_address;      // the module's variable holding the pin's value, or null
  int32_t direction;           // SEDirection
  int32_t datatype;            // SEDatatype code
  const char* name;            // NUL-terminated 8-bit name, owned by the module, valid while it is loaded
  int32_t reserved5;           // left 0
  const char* datatype_extra;  // datatype-specific text; for DT_ENUM the comma-separated choices
  int32_t flags;               // SEPinFlags
  int32_t reserved8;           // left 0
};

#if SE_RECORDS_ARE_32BIT
SE_STATIC_ASSERT(sizeof(SEPinProperties) == 32, "SEPinProperties is 32 bytes on 32-bit targets");
SE_STATIC_ASSERT(offsetof(SEPinProperties, variable_address) == 0, "variable_address at 0");
SE_STATIC_ASSERT(offsetof(SEPinProperties, direction) == 4, "direction at 4");
SE_STATIC_ASSERT(offsetof(SEPinProperties, datatype) == 8, "datatype at 8");
SE_STATIC_ASSERT(offsetof(SEPinProperties, name) == 12, "name at 12");
SE_STATIC_ASSERT(offsetof(SEPinProperties, reserved5) == 16, "reserved5 at 16");
SE_STATIC_ASSERT(offsetof(SEPinProperties, datatype_extra) == 20, "datatype_extra at 20");
SE_STATIC_ASSERT(offsetof(SEPinProperties, flags) == 24, "flags at 24");
SE_STATIC_ASSERT(offsetof(SEPinProperties, reserved8) == 28, "reserved8 at 28");
#endif

#ifdef __cplusplus
// The rule every pin description obeys: IO_PATCH_STORE only on a pin that is
// IO_PRIVATE, an output, or IO_UI_COMMUNICATION.
inline bool SEPinFlagsAllowed(const SEPinProperties& p) {
  return (p.flags & IO_PATCH_STORE) == 0 || (p.flags & IO_PRIVATE) != 0 || p.direction == DR_OUT ||
         (p.flags & IO_UI_COMMUNICATION) != 0;
}

// A pin with an audio side gets an SEPin when the module opens.
inline bool SEPinHasAudioSide(const SEPinProperties& p) {
  return (p.flags & IO_UI_COMMUNICATION) == 0 || (p.flags & IO_UI_AND_DSP) != 0;
}
#endif
