#pragma once
// How a module describes one pin to the host.

#include "se_boundary.h"

// Pin directions.
enum SEDirection : int32_t {
  DR_IN = 0,   // input pin
  DR_OUT = 1,  // output pin
};

// Pin datatypes. Codes 1, 2, 3 and 7 give a pin no value storage of its own,
// code 4 an 8-bit value and code 8 a 32-bit value.
enum SEDatatype : int32_t {
  DT_ENUM = 0,     // 16-bit index into the list in datatype_extra
  DT_FSAMPLE = 5,  // a stream of 32-bit float samples in a host buffer
  DT_FLOAT = 6,    // one 32-bit float
};

// Pin flags. Bits not listed pass to the host untouched.
enum SEPinFlags : int32_t {
  IO_REPEATING = 0x8,            // on the last declared pin: repeated up to the host's pin count
  IO_PRIVATE = 0x100,            // allows IO_PATCH_STORE on an input
  IO_UI_COMMUNICATION = 0x400,   // the pin belongs to the GUI side; also allows IO_PATCH_STORE on an input
  IO_UI_AND_DSP = 0x8000,        // a GUI pin that also gets an audio-side SEPin
  IO_PATCH_STORE = 0x10000,      // only on an IO_PRIVATE pin, an output or an IO_UI_COMMUNICATION pin
};

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
static_assert(sizeof(SEPinProperties) == 32, "SEPinProperties is 32 bytes on 32-bit targets");
static_assert(offsetof(SEPinProperties, variable_address) == 0, "variable_address at 0");
static_assert(offsetof(SEPinProperties, direction) == 4, "direction at 4");
static_assert(offsetof(SEPinProperties, datatype) == 8, "datatype at 8");
static_assert(offsetof(SEPinProperties, name) == 12, "name at 12");
static_assert(offsetof(SEPinProperties, reserved5) == 16, "reserved5 at 16");
static_assert(offsetof(SEPinProperties, datatype_extra) == 20, "datatype_extra at 20");
static_assert(offsetof(SEPinProperties, flags) == 24, "flags at 24");
static_assert(offsetof(SEPinProperties, reserved8) == 28, "reserved8 at 28");
#endif

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
