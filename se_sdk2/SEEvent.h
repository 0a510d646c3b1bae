#pragma once
// A timed event: posted by the audio half to the host, handed back when due.

#include "se_boundary.h"

// Event types the audio half acts on; every other type is accepted and ignored.
enum SEEventType : int32_t {
  EVT_PIN_STATUS = 0,     // ptr_value = audio-side pin index, int_value1 = new status
  EVT_TIMED_MESSAGE = 2,  // int_value1, and the low 16 bits of int_value2 as a signed number
  EVT_RUN_FUNCTION = 21,  // ptr_value = an SEDeferredCall the module made with MemberCall
};

// 24 bytes on 32-bit targets; on 64-bit builds `ptr_value` and `next` are 8
// bytes, so a member-call reference still fits.
struct SEEvent {
  uint32_t time_stamp;  // the sample clock at which the event is due
  int32_t event_type;   // SEEventType
  int32_t int_value1;
  int32_t int_value2;
  intptr_t ptr_value;   // a pin index or a member-call reference, by type
  SEEvent* next;        // link for the host's use; null in every event the module posts
};

#if SE_RECORDS_ARE_32BIT
static_assert(sizeof(SEEvent) == 24, "SEEvent is 24 bytes on 32-bit targets");
static_assert(offsetof(SEEvent, time_stamp) == 0, "time_stamp at 0");
static_assert(offsetof(SEEvent, event_type) == 4, "event_type at 4");
static_assert(offsetof(SEEvent, int_value1) == 8, "int_value1 at 8");
static_assert(offsetof(SEEvent, int_value2) == 12, "int_value2 at 12");
static_assert(offsetof(SEEvent, ptr_value) == 16, "ptr_value at 16");
static_assert(offsetof(SEEvent, next) == 20, "next at 20");
#endif
