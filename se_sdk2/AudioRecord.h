#pragma once
// The host-visible record of an audio half, the audio opcodes in both
// directions, and the plain entries the record carries.

#include "se_boundary.h"

class SEModule_base;
struct AudioRecord;
struct SEEvent;

// AudioRecord::dispatcher (host → audio half): the record's address, the
// opcode (AudioOpcode) and its arguments; answers as each opcode says.
typedef se_ret_t (*SEAudioDispatcher)(AudioRecord* record, int32_t opcode, int32_t index, int32_t value,
                                      void* ptr, float opt);
// AudioRecord::process_function (host → audio half): called with the record's
// `module` first, then the offset of the run within the host's block and the
// number of sample frames to process. Process functions may ignore both. It is
// the code entry of the module's current process function itself (the member
// that OP_GET_PROCESS_FUNCTION_INFO points at), in the plain C convention.
typedef void (*SEProcessEntry)(SEModule_base* module, int32_t buffer_offset, int32_t sample_frames);
// AudioRecord::event_function (host → audio half): called with the record's
// `module` and one due event, which the host owns and keeps for the call only.
typedef void (*SEEventEntry)(SEModule_base* module, SEEvent* event);

// Host → audio half, through AudioRecord::dispatcher. Opcodes 4, 5, 9 and 11
// are accepted without action; 7 and 10 are contract violations; any other
// opcode is answered with 0.
enum AudioOpcode : int32_t {
  OP_OPEN = 0,                       // Open: the module chooses its process function and binds its pins; 0
  OP_CLOSE = 1,                      // Close, then the instance deletes itself; answer 1; the record is gone
  OP_SET_SAMPLE_RATE = 2,            // opt = sample rate; 0
  OP_SET_BLOCK_SIZE = 3,             // value = block size; 0
  OP_GET_PIN_PROPERTIES = 6,         // index = declared pin, ptr = the host's SEPinProperties; 1 if the pin exists
  OP_NOTIFY = 8,                     // index > 0 also reports that count; 0
  OP_COMMAND = 12,                   // value, index, ptr for the module; 0
  OP_GET_PROCESS_FUNCTION_INFO = 13, // answer: address of the ProcessFunctionInfo block
};

// Audio half → host, through seaudioMaster with the audio record's address first.
enum AudioHostOpcode : int32_t {
  HC_PIN_DATA = 0,                    // index = pin, value and ptr from the module; answer unused
  HC_PIN_QUERY = 1,                   // index = pin; answer non-zero means true
  HC_GET_SAMPLE_CLOCK = 3,            // answer: the current sample clock (unsigned 32-bit)
  HC_PIN_STATUS = 4,                  // index = pin, value = status, ptr = the sample clock it is due at
  HC_GET_PIN_BUFFER = 7,              // index = pin; answer: address of the pin's float buffer, host-owned
  HC_GET_BLOCK_START = 8,             // index = pin; answer: sample clock of the buffer's first sample
  HC_GET_PIN_COUNT = 14,              // answer: number of audio-side pins, repeats included
  HC_ADD_EVENT = 19,                  // ptr = an SEEvent the host copies during the call
  HC_PROCESS_FUNCTION_CHANGED = 22,   // the record's process_function has just changed
};

// The record an audio half shows the host. It lives inside the SEModule_base
// object at a fixed place; its address is the host's handle on the half.
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
static_assert(sizeof(AudioRecord) == 48, "AudioRecord is 48 bytes on 32-bit targets");
static_assert(offsetof(AudioRecord, magic) == 0, "AudioRecord::magic at 0");
static_assert(offsetof(AudioRecord, version) == 4, "AudioRecord::version at 4");
static_assert(offsetof(AudioRecord, host_context) == 8, "AudioRecord::host_context at 8");
static_assert(offsetof(AudioRecord, module) == 12, "AudioRecord::module at 12");
static_assert(offsetof(AudioRecord, reserved1) == 16, "AudioRecord::reserved1 at 16");
static_assert(offsetof(AudioRecord, dispatcher) == 20, "AudioRecord::dispatcher at 20");
static_assert(offsetof(AudioRecord, process_function) == 24, "AudioRecord::process_function at 24");
static_assert(offsetof(AudioRecord, event_function) == 28, "AudioRecord::event_function at 28");
static_assert(offsetof(AudioRecord, reserved2) == 32, "AudioRecord::reserved2 at 32");
#endif

// The block OP_GET_PROCESS_FUNCTION_INFO answers with. One block serves every
// instance of the library and is rewritten by each such request.
struct ProcessFunctionInfo {
  int32_t kind;              // 1
  int32_t size;              // size in bytes of the member at `address`: 8 on 32-bit targets
  void* address;             // address of the asking object's m_process_function
  int32_t tag;               // 1002
};

#if SE_RECORDS_ARE_32BIT
static_assert(sizeof(ProcessFunctionInfo) == 16, "ProcessFunctionInfo is four 32-bit fields");
#endif
