#pragma once
// A timed event: posted by the audio half to the host, handed back when due.

#include "se_boundary.h"
#include "se_codes.h"

typedef struct SEEvent SEEvent;  // the record by its plain name, in C too

// One event, in the memory of whoever made it: the module's temporary while it
// posts (HC_ADD_EVENT, the host copies it during the call), the host's while it
// hands one back (event_function, for that call only). Event types: table
// SE_EVENT_TYPES; every other type is accepted and ignored.
// 24 bytes on 32-bit targets; on 64-bit builds `ptr_value` and `next` are 8
// bytes, so a member-call reference still fits.
struct SEEvent {
  uint32_t time_stamp;  // the sample clock at which the event is due
  int32_t event_type;   // SEEventType
  int32_t int_value1;   // first value, by type
  int32_t int_value2;   // second value, by type
  intptr_t ptr_value;   // a pin index or a member-call reference, by type
  SEEvent* next;        // link for the host's use; null in every event the module posts
};

#if SE_RECORDS_ARE_32BIT
SE_STATIC_ASSERT(sizeof(SEEvent) == 24, "SEEvent is 24 bytes on 32-bit targets");
SE_STATIC_ASSERT(offsetof(SEEvent, time_stamp) == 0, "time_stamp at 0");
SE_STATIC_ASSERT(offsetof(SEEvent, event_type) == 4, "event_type at 4");
SE_STATIC_ASSERT(offsetof(SEEvent, int_value1) == 8, "int_value1 at 8");
SE_STATIC_ASSERT(offsetof(SEEvent, int_value2) == 12, "int_value2 at 12");
SE_STATIC_ASSERT(offsetof(SEEvent, ptr_value) == 16, "ptr_value at 16");
SE_STATIC_ASSERT(offsetof(SEEvent, next) == 20, "next at 20");
#endif
