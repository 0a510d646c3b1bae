#pragma once
// Types shared by both halves of every module at the C boundary with the host.
// The records are laid out for a 32-bit process; 64-bit builds widen every
// pointer field (and every answer that may carry an address) to 8 bytes and
// keep all other fields at 32 bits.

#include <stddef.h>
#include <stdint.h>

// Answer of a record dispatcher or of the host callback. A 32-bit signed
// integer on 32-bit targets; some answers are addresses (a pin's text, a sample
// buffer, the process-function information), so it is pointer-wide elsewhere.
typedef intptr_t se_ret_t;

// The host callback `seaudioMaster`, called by a module half (module → host)
// for everything it needs from the host. Arguments: the calling half's own
// record address (its only identity towards the host), the opcode, then
// index, value, ptr and opt as the opcode defines them; unused ones are 0 and
// 0.0. Plain function, default C calling convention: the caller removes the
// arguments. The host owns whatever `ptr` points at only during the call.
typedef se_ret_t (*SEHostCallback)(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                   float opt);

// True when the records have their shipped 32-bit layout and their offsets can
// be pinned.
#define SE_RECORDS_ARE_32BIT (UINTPTR_MAX == 0xFFFFFFFFu)
