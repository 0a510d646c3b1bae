#pragma once
// The host-visible record of an audio half, the audio opcodes in both
// directions, and the plain entries the record carries.

#include "se_boundary.h"
#include "SEEvent.h"
#include "se_codes.h"

typedef struct AudioRecord AudioRecord;  // the record by its plain name, in C too

// AudioRecord::dispatcher (host → audio half): the record's address, the
// opcode (AudioOpcode, table SE_AUDIO_OPCODES) and its arguments; answers as
// each opcode says. The host calls it on the thread it drives that audio half
// on, never twice at once for one half; the call may call back into the host.
typedef se_ret_t (*SEAudioDispatcher)(AudioRecord* record, int32_t opcode, int32_t index, int32_t value,
                                      void* ptr, float opt);
// AudioRecord::process_function (host → audio half, on its audio thread):
// called with the record's `module` first, then the offset of the run within
// the host's block and the number of sample frames to process. Process
// functions may ignore both. It is the code entry of the module's current
// process function itself (the member that OP_GET_PROCESS_FUNCTION_INFO points
// at), in the plain C convention.
typedef void (*SEProcessEntry)(SEModule_base* module, int32_t buffer_offset, int32_t sample_frames);
// AudioRecord::event_function (host → audio half, on its audio thread, when
// the sample clock equals the event's time stamp): called with the record's
// `module` and one due event, which the host owns and keeps for the call only.
typedef void (*SEEventEntry)(SEModule_base* module, SEEvent* event);

// The record an audio half shows the host. It lives inside the SEModule_base
// object at a fixed place and belongs to the instance: it is valid from
// makeModule until OP_CLOSE returns. Its address is the host's handle on the
// half; the module writes only process_function after construction.
// 48 bytes on 32-bit targets. On 64-bit builds `module` and the three entries
// are 8 bytes each and aligned, which makes the record 72 bytes there.
struct AudioRecord {
  char magic[4];                    // the bytes "LPES" (0x5345504C read little-endian)
  int32_t version;                  // 1
  int32_t host_context;             // the host's value from makeModule; the module never reads it
  SEModule_base* module;            // the object process_function and event_function are called with
  int32_t reserved1;                // 0
  SEAudioDispatcher dispatcher;     // the host's entry for opcodes
  SEProcessEntry process_function;  // the current process function; rewritten when it changes
  SEEventEntry event_function;      // the host delivers each due event through it
  int32_t reserved2[4];             // 0
};

#if SE_RECORDS_ARE_32BIT
SE_STATIC_ASSERT(sizeof(AudioRecord) == 48, "AudioRecord is 48 bytes on 32-bit targets");
SE_STATIC_ASSERT(offsetof(AudioRecord, magic) == 0, "AudioRecord::magic at 0");
SE_STATIC_ASSERT(offsetof(AudioRecord, version) == 4, "AudioRecord::version at 4");
SE_STATIC_ASSERT(offsetof(AudioRecord, host_context) == 8, "AudioRecord::host_context at 8");
SE_STATIC_ASSERT(offsetof(AudioRecord, module) == 12, "AudioRecord::module at 12");
SE_STATIC_ASSERT(offsetof(AudioRecord, reserved1) == 16, "AudioRecord::reserved1 at 16");
SE_STATIC_ASSERT(offsetof(AudioRecord, dispatcher) == 20, "AudioRecord::dispatcher at 20");
SE_STATIC_ASSERT(offsetof(AudioRecord, process_function) == 24, "AudioRecord::process_function at 24");
SE_STATIC_ASSERT(offsetof(AudioRecord, event_function) == 28, "AudioRecord::event_function at 28");
SE_STATIC_ASSERT(offsetof(AudioRecord, reserved2) == 32, "AudioRecord::reserved2 at 32");
#endif

// The block OP_GET_PROCESS_FUNCTION_INFO answers with. One block, owned by the
// library, is shared by every audio instance of the library and rewritten by
// each such request on any of them: it is valid until the next one, and hosts
// must not ask two instances for it at once.
typedef struct ProcessFunctionInfo {
  int32_t kind;              // 1
  int32_t size;              // size in bytes of the member at `address`: 8 on 32-bit targets
  void* address;             // address of the asking object's m_process_function
  int32_t tag;               // 1002
} ProcessFunctionInfo;

#if SE_RECORDS_ARE_32BIT
SE_STATIC_ASSERT(sizeof(ProcessFunctionInfo) == 16, "ProcessFunctionInfo is four 32-bit fields");
#endif
