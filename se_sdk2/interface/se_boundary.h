#pragma once
// Types shared by both halves of every module at the C boundary with the host.
// Every header of this folder is plain C99 as well as C++17: a host written in
// C includes them as they are. The records are laid out for a 32-bit process;
// 64-bit builds widen every pointer field (and every answer that may carry an
// address) to 8 bytes and keep all other fields at 32 bits.

#include <stddef.h>
#include <stdint.h>

// Answer of a record dispatcher or of the host callback. A 32-bit signed
// integer on 32-bit targets; some answers are addresses (a pin's text, a sample
// buffer, the process-function information), so it is pointer-wide elsewhere.
typedef intptr_t se_ret_t;

// The host callback `seaudioMaster`, called by a module half (module → host)
// for everything it needs from the host, on the thread the host is calling
// that half on (a half calls it only from inside a call the host made, its
// construction by makeModule included). Arguments: the calling half's own
// record address (its only identity towards the host), the opcode, then
// index, value, ptr and opt as the opcode defines them; unused ones are 0 and
// 0.0. Plain function, default C calling convention: the caller removes the
// arguments. Whatever `ptr` points at stays the module's; the host may use it
// during the call only.
typedef se_ret_t (*SEHostCallback)(void* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                   float opt);

// The objects the records name. To C code they are opaque: a host only hands
// them back to the record's own entries. In C++ they are the framework's base
// classes, which build on these records.
#ifdef __cplusplus
class SEModule_base;
class SEGUI_base;
#else
typedef struct SEModule_base SEModule_base;
typedef struct SEGUI_base SEGUI_base;
#endif

// Declares a code family's enumeration: `SE_ENUM(AudioOpcode) { … };`. C++
// gives it the fixed type int32_t; in C its enumerators are int, which has
// the same width on every target the records serve. Record fields and
// arguments that carry codes are int32_t either way.
#ifdef __cplusplus
#define SE_ENUM(name) enum name : int32_t
#else
#define SE_ENUM(name) enum name
#endif

// Checked at compile time in C++ and C. C99 has no static_assert: there a
// failed condition declares an array of negative size (every check declares
// the same name, which C allows as long as the type is the same).
#if defined(__cplusplus)
#define SE_STATIC_ASSERT(condition, message) static_assert(condition, message)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define SE_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#else
#define SE_STATIC_ASSERT(condition, message) extern char se_static_assert[(condition) ? 1 : -1]
#endif

// True when the records have their shipped 32-bit layout and their offsets can
// be pinned.
#define SE_RECORDS_ARE_32BIT (UINTPTR_MAX == 0xFFFFFFFFu)
