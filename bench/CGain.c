/* The gain example written by hand in C against the interface alone, for the
 * benchmarks' floor: the same pins ("Gain", then "Input"/"Output" pairs), the
 * same host calls at open and the same work per sample, with no framework.
 * It keeps the buffer addresses at open and handles a status event by storing
 * it, which is all a control change of "Gain" needs. */

#include <stdlib.h>
#include <string.h>

#include "AudioRecord.h"
#include "SEExports.h"
#include "SEPinProperties.h"

enum { kMaxPins = 33 };  /* "Gain" and 16 channels */

typedef struct CGain {
  AudioRecord record;
  SEHostCallback host;
  float gain;
  int32_t channels;
  int32_t status[kMaxPins];
  float* buffers[kMaxPins];
} CGain;

static se_ret_t Call(CGain* self, int32_t opcode, int32_t index) {
  return self->host(&self->record, opcode, index, 0, NULL, 0.0f);
}

static void Process(SEModule_base* module, int32_t offset, int32_t frames) {
  CGain* self = (CGain*)module;
  const float gain = self->gain;
  for (int32_t c = 0; c < self->channels; ++c) {
    const float* in = self->buffers[1 + 2 * c];
    float* out = self->buffers[2 + 2 * c];
    for (int32_t i = offset; i < offset + frames; ++i) out[i] = in[i] * gain;
  }
}

static void Event(SEModule_base* module, SEEvent* e) {
  CGain* self = (CGain*)module;
  if (e->event_type == EVT_PIN_STATUS && e->ptr_value >= 0 && e->ptr_value < kMaxPins) {
    self->status[e->ptr_value] = e->int_value1;
  }
}

static int32_t Pin(int32_t index, SEPinProperties* p, CGain* self) {
  if (index == 0) {
    p->name = "Gain";
    p->direction = DR_IN;
    p->datatype = DT_FLOAT;
    p->variable_address = &self->gain;
    return 1;
  }
  if (index == 1 || index == 2) {
    p->name = index == 1 ? "Input" : "Output";
    p->direction = index == 1 ? DR_IN : DR_OUT;
    p->datatype = DT_FSAMPLE;
    p->flags = IO_REPEATING;
    return 1;
  }
  return 0;
}

static se_ret_t Dispatch(AudioRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  CGain* self = (CGain*)record->module;
  (void)value;
  (void)opt;
  switch (opcode) {
    case OP_OPEN: {
      int32_t count = (int32_t)Call(self, HC_GET_PIN_COUNT, 0);
      if (count > kMaxPins) count = kMaxPins;
      for (int32_t j = 1; j < count; ++j) self->buffers[j] = (float*)Call(self, HC_GET_PIN_BUFFER, j);
      self->channels = count > 1 ? (count - 1) / 2 : 0;
      self->record.process_function = &Process;
      Call(self, HC_PROCESS_FUNCTION_CHANGED, 0);
      return 0;
    }
    case OP_CLOSE:
      free(self);
      return 1;
    case OP_GET_PIN_PROPERTIES:
      return ptr ? Pin(index, (SEPinProperties*)ptr, self) : 0;
    default:
      return 0;
  }
}

static void Idle(SEModule_base* module, int32_t offset, int32_t frames) {
  (void)module;
  (void)offset;
  (void)frames;
}

SE_EXPORT int32_t getModuleProperties(int32_t index, ModuleProperties* properties) {
  if (!properties) return 0;
  properties->sdk_version = 2230;
  if (index != 0) return 0;
  properties->name = properties->id = "CGain";
  properties->about = "The gain example by hand, for the benchmarks.";
  properties->flags = 0;
  return 1;
}

SE_EXPORT void* makeModule(int32_t index, int32_t type, SEHostCallback seaudioMaster, int32_t host_context) {
  if (index != 0 || type != MT_AUDIO) return NULL;
  CGain* self = (CGain*)calloc(1, sizeof *self);
  if (!self) return NULL;
  memcpy(self->record.magic, "LPES", 4);
  self->record.version = 1;
  self->record.host_context = host_context;
  self->record.module = (SEModule_base*)self;
  self->record.dispatcher = &Dispatch;
  self->record.process_function = &Idle;
  self->record.event_function = &Event;
  self->host = seaudioMaster;
  self->gain = 1.0f;
  return &self->record;
}
