#pragma once
// The host-visible record of a GUI half and the GUI opcodes in both directions.

#include "se_boundary.h"
#include "se_codes.h"

typedef struct GuiRecord GuiRecord;  // the record by its plain name, in C too

// GuiRecord::dispatcher (host → GUI half): the record's address, the opcode
// (GuiOpcode, table SE_GUI_OPCODES) and its arguments; answers as each opcode
// says. Plain function, default C calling convention. The host calls every GUI
// half of the library on one thread at a time: they share a pin handle
// (SEGUI_base::GetPin), so calls into two GUI halves must not overlap. A call
// may call back into the host, and the host may call the same half again
// before that returns.
typedef se_ret_t (*SEGuiDispatcher)(GuiRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                    float opt);

// The record a GUI half shows the host. It lives inside the SEGUI_base object,
// at one fixed place for the object's whole life; its address is the host's
// handle on the half, valid from makeModule until GUI_OP_CLOSE returns. 40 bytes on 32-bit targets; on 64-bit builds the
// `dispatcher` and `module` pointers are 8 bytes each (with alignment padding
// after `host_context`), so the record is 56 bytes there.
struct GuiRecord {
  char magic[4];               // the bytes "MPES" (0x5345504D read little-endian)
  int32_t version;             // 1
  SEGuiDispatcher dispatcher;  // SEGUI_base::StaticDispatch; the host's one entry into the half
  int32_t host_context;        // the host's value from makeModule; the module never reads it
  SEGUI_base* module;          // the owning object; lets StaticDispatch find it
  int32_t reserved[5];         // always 0
};

#if SE_RECORDS_ARE_32BIT
SE_STATIC_ASSERT(sizeof(GuiRecord) == 40, "GuiRecord is 40 bytes on 32-bit targets");
SE_STATIC_ASSERT(offsetof(GuiRecord, magic) == 0, "GuiRecord::magic at 0");
SE_STATIC_ASSERT(offsetof(GuiRecord, version) == 4, "GuiRecord::version at 4");
SE_STATIC_ASSERT(offsetof(GuiRecord, dispatcher) == 8, "GuiRecord::dispatcher at 8");
SE_STATIC_ASSERT(offsetof(GuiRecord, host_context) == 12, "GuiRecord::host_context at 12");
SE_STATIC_ASSERT(offsetof(GuiRecord, module) == 16, "GuiRecord::module at 16");
SE_STATIC_ASSERT(offsetof(GuiRecord, reserved) == 20, "GuiRecord::reserved at 20");
#endif

// The pair handed to the handlers of GUI opcodes 3, 4 and 5: {index, value}.
typedef struct GuiPair {
  int32_t first;   // the opcode's index
  int32_t second;  // the opcode's value
} GuiPair;
