#pragma once
// Every numeric code of the interface, one table per family. Each table lists
// every code the interface has, named or not, once; the enumerations of the
// record headers, the framework's dispatchers, the stand-in host and the
// tools' names all expand these tables, so a code changes in one place.
//
// A table is a macro taking the name of a row macro X, called once per code:
//   opcode families:  X(NAME, VALUE, KIND, ARGS, MEANING)
//   other families:   X(NAME, VALUE, KIND, MEANING)
// NAME is the enumerator (codes the interface leaves unnamed are NAME_CODE_n);
// VALUE its number; KIND one of NAMED, UNNAMED, VIOLATION (SECodeKind without
// its prefix); ARGS which of index, value, ptr and opt the opcode uses
// (SE_ARG_… bits); MEANING a one-line description. To walk a family:
//   static const SECode kAudioOps[] = {SE_AUDIO_OPCODES(SE_OPCODE_ROW)};

#include "se_boundary.h"

// What a row's code is.
SE_ENUM(SECodeKind){
    SE_CODE_NAMED = 0,      // a code with a name in the interface
    SE_CODE_UNNAMED = 1,    // a code of the interface without a name of its own (NAME_CODE_n)
    SE_CODE_VIOLATION = 2,  // sent by no well-behaved host: the receiver treats it as a contract violation
};

// Which of an opcode's arguments carry something (the others are 0 and 0.0).
#define SE_ARG_NONE 0   // none of them
#define SE_ARG_INDEX 1  // index
#define SE_ARG_VALUE 2  // value
#define SE_ARG_PTR 4    // ptr
#define SE_ARG_OPT 8    // opt

// One row of a table, for code that walks a family at run time.
typedef struct SECode {
  int32_t value;        // the code
  int32_t kind;         // SECodeKind
  int32_t args;         // SE_ARG_… bits (opcode families; 0 elsewhere)
  const char* name;     // the enumerator's spelling, "OP_OPEN" or "OP_CODE_4"
  const char* meaning;  // one line
} SECode;

// Turns a row of an opcode table into an SECode initializer.
#define SE_OPCODE_ROW(name, value, kind, args, meaning) {value, SE_CODE_##kind, args, #name, meaning},
// Turns a row of any other table into an SECode initializer.
#define SE_CODE_ROW(name, value, kind, meaning) {value, SE_CODE_##kind, SE_ARG_NONE, #name, meaning},
// Turns a row of an opcode table into an enumerator.
#define SE_OPCODE_ENUMERATOR(name, value, kind, args, meaning) name = value,
// Turns a row of any other table into an enumerator.
#define SE_CODE_ENUMERATOR(name, value, kind, meaning) name = value,

// Host → audio half, through AudioRecord::dispatcher. Any other opcode is
// answered with 0 and changes nothing.
#define SE_AUDIO_OPCODES(X)                                                                                  \
  X(OP_OPEN, 0, NAMED, SE_ARG_NONE, "Open: the module chooses its process function and binds its pins; 0")  \
  X(OP_CLOSE, 1, NAMED, SE_ARG_NONE, "Close, then the instance deletes itself; 1; the record is gone")        \
  X(OP_SET_SAMPLE_RATE, 2, NAMED, SE_ARG_OPT, "opt = the sample rate, stored as it comes; 0")                 \
  X(OP_SET_BLOCK_SIZE, 3, NAMED, SE_ARG_VALUE, "value = the block size, stored as it comes; 0")               \
  X(OP_CODE_4, 4, UNNAMED, SE_ARG_NONE, "accepted without action; 0")                                       \
  X(OP_CODE_5, 5, UNNAMED, SE_ARG_NONE, "accepted without action; 0")                                       \
  X(OP_GET_PIN_PROPERTIES, 6, NAMED, SE_ARG_INDEX | SE_ARG_PTR,                                               \
    "index = declared pin, ptr = the host's SEPinProperties; 1 if the pin exists, else 0")                    \
  X(OP_CODE_7, 7, VIOLATION, SE_ARG_NONE, "not part of the interface: the assertion \"false\" ends the process") \
  X(OP_NOTIFY, 8, NAMED, SE_ARG_INDEX, "OnNotify, and OnNotifyCount(index) when index > 0; 0")                \
  X(OP_CODE_9, 9, UNNAMED, SE_ARG_NONE, "accepted without action; 0")                                       \
  X(OP_CODE_10, 10, VIOLATION, SE_ARG_NONE, "not part of the interface: the assertion \"false\" ends the process") \
  X(OP_CODE_11, 11, UNNAMED, SE_ARG_NONE, "accepted without action; 0")                                     \
  X(OP_COMMAND, 12, NAMED, SE_ARG_INDEX | SE_ARG_VALUE | SE_ARG_PTR, "OnHostCommand(value, index, ptr); 0")   \
  X(OP_GET_PROCESS_FUNCTION_INFO, 13, NAMED, SE_ARG_NONE,                                                     \
    "answer: address of the ProcessFunctionInfo block, shared by every instance")

// Audio half → host, through seaudioMaster with the audio record's address first.
#define SE_AUDIO_HOST_CALLS(X)                                                                             \
  X(HC_PIN_DATA, 0, NAMED, SE_ARG_INDEX | SE_ARG_VALUE | SE_ARG_PTR,                                         \
    "index = pin, value and ptr from the module; answer unused")                                            \
  X(HC_PIN_QUERY, 1, NAMED, SE_ARG_INDEX, "index = pin; answer non-zero means true")                        \
  X(HC_GET_SAMPLE_CLOCK, 3, NAMED, SE_ARG_NONE, "answer: the current sample clock (unsigned 32-bit)")      \
  X(HC_PIN_STATUS, 4, NAMED, SE_ARG_INDEX | SE_ARG_VALUE | SE_ARG_PTR,                                       \
    "index = pin, value = status, ptr = the sample clock it is due at")                                     \
  X(HC_GET_PIN_BUFFER, 7, NAMED, SE_ARG_INDEX, "index = pin; answer: address of the pin's float buffer, host-owned") \
  X(HC_GET_BLOCK_START, 8, NAMED, SE_ARG_INDEX, "index = pin; answer: sample clock of the buffer's first sample") \
  X(HC_CODE_10, 10, UNNAMED, SE_ARG_NONE, "sent by the math module's process function on every run; answer unused") \
  X(HC_GET_PIN_COUNT, 14, NAMED, SE_ARG_NONE, "answer: number of audio-side pins, repeats included")        \
  X(HC_ADD_EVENT, 19, NAMED, SE_ARG_PTR, "ptr = an SEEvent the host copies during the call")                 \
  X(HC_PROCESS_FUNCTION_CHANGED, 22, NAMED, SE_ARG_NONE, "the record's process_function has just changed")

// Host → GUI half, through GuiRecord::dispatcher. Codes 2 to 6 and 8 to 12
// reach SEGUI_base::OnGuiOpcodeN; any other opcode is answered with 0.
#define SE_GUI_OPCODES(X)                                                                                    \
  X(GUI_OP_OPEN, 0, NAMED, SE_ARG_INDEX, "Open(index == 1); 0")                                               \
  X(GUI_OP_CLOSE, 1, NAMED, SE_ARG_NONE, "Close, then the instance deletes itself; 1; the record is gone")    \
  X(GUI_OP_CODE_2, 2, UNNAMED, SE_ARG_INDEX | SE_ARG_PTR, "OnGuiOpcode2(index, ptr); 0")                       \
  X(GUI_OP_CODE_3, 3, UNNAMED, SE_ARG_INDEX | SE_ARG_VALUE | SE_ARG_PTR | SE_ARG_OPT,                          \
    "OnGuiOpcode3(ptr, opt, {index, value}); 0")                                                              \
  X(GUI_OP_CODE_4, 4, UNNAMED, SE_ARG_INDEX | SE_ARG_VALUE | SE_ARG_PTR | SE_ARG_OPT,                          \
    "OnGuiOpcode4(ptr, opt, {index, value}); 0")                                                              \
  X(GUI_OP_CODE_5, 5, UNNAMED, SE_ARG_INDEX | SE_ARG_VALUE | SE_ARG_PTR | SE_ARG_OPT,                          \
    "OnGuiOpcode5(ptr, opt, {index, value}); 0")                                                              \
  X(GUI_OP_CODE_6, 6, UNNAMED, SE_ARG_INDEX | SE_ARG_VALUE | SE_ARG_PTR, "OnGuiOpcode6(value, index, ptr); 0") \
  X(GUI_OP_PIN_VALUE_CHANGE, 7, NAMED, SE_ARG_INDEX, "index = pin whose value the host changed; 0")           \
  X(GUI_OP_CODE_8, 8, UNNAMED, SE_ARG_PTR, "OnGuiOpcode8(ptr); 0")                                             \
  X(GUI_OP_CODE_9, 9, UNNAMED, SE_ARG_PTR, "OnGuiOpcode9(ptr); 0")                                             \
  X(GUI_OP_CODE_10, 10, UNNAMED, SE_ARG_NONE, "OnGuiOpcode10(); its answer as 1 or 0")                         \
  X(GUI_OP_CODE_11, 11, UNNAMED, SE_ARG_INDEX, "OnGuiOpcode11(index); 0")                                      \
  X(GUI_OP_CODE_12, 12, UNNAMED, SE_ARG_INDEX, "OnGuiOpcode12(index); 0")

// GUI half → host, through seaudioMaster with the GUI record's address first.
#define SE_GUI_HOST_CALLS(X)                                                                                 \
  X(GUI_HC_SET_PIN_TEXT, 6, NAMED, SE_ARG_INDEX | SE_ARG_PTR,                                                  \
    "index = pin, ptr = NUL-terminated 8-bit text, valid during the call")                                    \
  X(GUI_HC_GET_PIN_TEXT, 7, NAMED, SE_ARG_INDEX,                                                               \
    "index = pin; answer: address of the pin's NUL-terminated 8-bit text, host-owned")                        \
  X(GUI_HC_CODE_8, 8, UNNAMED, SE_ARG_INDEX | SE_ARG_VALUE | SE_ARG_PTR,                                       \
    "SEGUI_base::HostCall8(index, value, ptr); the answer goes back to the caller")                           \
  X(GUI_HC_GET_PIN_VALUE, 14, NAMED, SE_ARG_INDEX | SE_ARG_PTR,                                                \
    "index = pin, ptr = 4-byte buffer the host fills with the pin's value")                                   \
  X(GUI_HC_SET_PIN_VALUE, 15, NAMED, SE_ARG_INDEX | SE_ARG_VALUE | SE_ARG_OPT,                                 \
    "index = pin, value = integer or 0, opt = float or 0.0")                                                  \
  X(GUI_HC_GET_PIN_TEXT_W, 17, NAMED, SE_ARG_INDEX | SE_ARG_VALUE | SE_ARG_PTR,                                \
    "index = pin; value 0 and ptr null answer the count of 16-bit characters to reserve, then value = count " \
    "and ptr = buffer have the host write NUL-terminated text")                                               \
  X(GUI_HC_CODE_18, 18, UNNAMED, SE_ARG_PTR, "SEGUI_base::HostCall18(ptr); the answer goes back to the caller") \
  X(GUI_HC_CODE_19, 19, UNNAMED, SE_ARG_PTR, "SEGUI_base::HostCall19(ptr); the answer goes back to the caller") \
  X(GUI_HC_CODE_20, 20, UNNAMED, SE_ARG_PTR, "SEGUI_base::HostQuery20(ptr); a non-zero answer means true")

// SEPinProperties::direction.
#define SE_DIRECTIONS(X)                  \
  X(DR_IN, 0, NAMED, "input pin")         \
  X(DR_OUT, 1, NAMED, "output pin")

// SEPinProperties::datatype, with the storage a pin provides itself when the
// module gives no variable. Any other code: no storage.
#define SE_DATATYPES(X)                                                                            \
  X(DT_ENUM, 0, NAMED, "a 16-bit choice value of the list in datatype_extra")                      \
  X(DT_CODE_1, 1, UNNAMED, "no value storage of its own")                                          \
  X(DT_CODE_2, 2, UNNAMED, "no value storage of its own")                                          \
  X(DT_CODE_3, 3, UNNAMED, "no value storage of its own")                                          \
  X(DT_CODE_4, 4, UNNAMED, "an 8-bit value")                                                       \
  X(DT_FSAMPLE, 5, NAMED, "a stream of 32-bit float samples in a host buffer (HC_GET_PIN_BUFFER)") \
  X(DT_FLOAT, 6, NAMED, "one 32-bit float")                                                        \
  X(DT_CODE_7, 7, UNNAMED, "no value storage of its own")                                          \
  X(DT_CODE_8, 8, UNNAMED, "a 32-bit value")

// SEPinProperties::flags, bit values. Bits not listed pass to the host untouched.
#define SE_PIN_FLAGS(X)                                                                                   \
  X(IO_REPEATING, 0x8, NAMED, "on the last declared pin: repeated up to the host's pin count")            \
  X(IO_PRIVATE, 0x100, NAMED, "allows IO_PATCH_STORE on an input")                                        \
  X(IO_UI_COMMUNICATION, 0x400, NAMED, "the pin belongs to the GUI side; also allows IO_PATCH_STORE on an input") \
  X(IO_UI_AND_DSP, 0x8000, NAMED, "a GUI pin that also gets an audio-side SEPin")                         \
  X(IO_PATCH_STORE, 0x10000, NAMED, "only on an IO_PRIVATE pin, an output or an IO_UI_COMMUNICATION pin")

// SEEvent::event_type. Every type not listed is accepted and ignored too.
#define SE_EVENT_TYPES(X)                                                                                   \
  X(EVT_PIN_STATUS, 0, NAMED, "ptr_value = audio-side pin index, int_value1 = new status")                  \
  X(EVT_CODE_1, 1, UNNAMED, "accepted and ignored")                                                          \
  X(EVT_TIMED_MESSAGE, 2, NAMED, "OnTimedMessage(time_stamp, int_value1, low 16 bits of int_value2 signed)") \
  X(EVT_CODE_6, 6, UNNAMED, "accepted and ignored")                                                          \
  X(EVT_RUN_FUNCTION, 21, NAMED, "ptr_value = an SEDeferredCall the module made with MemberCall")

// makeModule's `type`: which half to create.
#define SE_HALF_TYPES(X)                                                          \
  X(MT_AUDIO, 1, NAMED, "the audio half; makeModule answers its AudioRecord")    \
  X(MT_GUI, 2, NAMED, "the GUI half; makeModule answers its GuiRecord")

// The enumerations, one per family; each enumerator's meaning is in its table.
// The codes of SE_AUDIO_OPCODES.
SE_ENUM(AudioOpcode){SE_AUDIO_OPCODES(SE_OPCODE_ENUMERATOR)};
// The codes of SE_AUDIO_HOST_CALLS.
SE_ENUM(AudioHostOpcode){SE_AUDIO_HOST_CALLS(SE_OPCODE_ENUMERATOR)};
// The codes of SE_GUI_OPCODES.
SE_ENUM(GuiOpcode){SE_GUI_OPCODES(SE_OPCODE_ENUMERATOR)};
// The codes of SE_GUI_HOST_CALLS.
SE_ENUM(GuiHostOpcode){SE_GUI_HOST_CALLS(SE_OPCODE_ENUMERATOR)};
// The codes of SE_DIRECTIONS.
SE_ENUM(SEDirection){SE_DIRECTIONS(SE_CODE_ENUMERATOR)};
// The codes of SE_DATATYPES.
SE_ENUM(SEDatatype){SE_DATATYPES(SE_CODE_ENUMERATOR)};
// The codes of SE_PIN_FLAGS.
SE_ENUM(SEPinFlags){SE_PIN_FLAGS(SE_CODE_ENUMERATOR)};
// The codes of SE_EVENT_TYPES.
SE_ENUM(SEEventType){SE_EVENT_TYPES(SE_CODE_ENUMERATOR)};
// The codes of SE_HALF_TYPES.
SE_ENUM(SEHalfType){SE_HALF_TYPES(SE_CODE_ENUMERATOR)};
