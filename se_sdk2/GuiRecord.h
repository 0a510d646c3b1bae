#pragma once
// The host-visible record of a GUI half and the GUI opcodes in both directions.

#include "se_boundary.h"

class SEGUI_base;
struct GuiRecord;

// The GUI record's `dispatcher` (host → GUI half): the record's address, the
// opcode (GuiOpcode) and its arguments; answers as each opcode says. Plain
// function, default C calling convention.
typedef se_ret_t (*SEGuiDispatcher)(GuiRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                    float opt);

// Host → GUI half, through GuiRecord::dispatcher. Unlisted opcodes up to 12
// are routed to SEGUI_base::OnGuiOpcodeN; anything else is answered with 0.
enum GuiOpcode : int32_t {
  GUI_OP_OPEN = 0,              // index 1 → Open(true), else Open(false); answer 0
  GUI_OP_CLOSE = 1,             // Close, then the instance deletes itself; answer 1; the record is gone
  GUI_OP_PIN_VALUE_CHANGE = 7,  // index = pin whose value the host changed; answer 0
};

// GUI half → host, through seaudioMaster with the GUI record's address first.
enum GuiHostOpcode : int32_t {
  GUI_HC_SET_PIN_TEXT = 6,     // index = pin, ptr = NUL-terminated 8-bit text, valid during the call
  GUI_HC_GET_PIN_TEXT = 7,     // index = pin; answer: address of the pin's NUL-terminated 8-bit text, host-owned
  GUI_HC_GET_PIN_VALUE = 14,   // index = pin, ptr = 4-byte buffer the host fills with the pin's value
  GUI_HC_SET_PIN_VALUE = 15,   // index = pin, value = integer or 0, opt = float or 0.0
  GUI_HC_GET_PIN_TEXT_W = 17,  // index = pin; first call (value 0, ptr null) answers the count of
                               // 16-bit characters to reserve; second call (value = count, ptr =
                               // buffer) has the host write NUL-terminated text into the buffer
};

// The record a GUI half shows the host. It lives inside the SEGUI_base object,
// at one fixed place for the object's whole life; its address is the host's
// handle on the half. 40 bytes on 32-bit targets; on 64-bit builds the
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
static_assert(sizeof(GuiRecord) == 40, "GuiRecord is 40 bytes on 32-bit targets");
static_assert(offsetof(GuiRecord, magic) == 0, "GuiRecord::magic at 0");
static_assert(offsetof(GuiRecord, version) == 4, "GuiRecord::version at 4");
static_assert(offsetof(GuiRecord, dispatcher) == 8, "GuiRecord::dispatcher at 8");
static_assert(offsetof(GuiRecord, host_context) == 12, "GuiRecord::host_context at 12");
static_assert(offsetof(GuiRecord, module) == 16, "GuiRecord::module at 16");
static_assert(offsetof(GuiRecord, reserved) == 20, "GuiRecord::reserved at 20");
#endif

// The pair handed to the handlers of GUI opcodes 3, 4 and 5: {index, value}.
struct GuiPair {
  int32_t first;
  int32_t second;
};
