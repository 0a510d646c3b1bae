/* The math module's GUI half written by hand in C against the interface
 * alone, for the benchmarks: the same host calls and the same checks as the
 * framework's path (the callback's presence before every host call, the busy
 * flag, the changed pin read first, the mode's range, a fresh read of "X",
 * the math in double rounded to float once), with no framework: no hold on
 * the half during a call, no exception guard, no virtual calls. */

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "GuiRecord.h"
#include "SEExports.h"

enum { kPinMode = 0, kPinX = 1, kPinResult = 2 };

typedef struct CMath {
  GuiRecord record;
  SEHostCallback host;
  float x;
  float result;
  int16_t mode;
  int busy;
} CMath;

static void NeedHost(const CMath* self) {
  if (!self->host) {
    fputs("CMath: no host callback\n", stderr);
    abort();
  }
}

static int32_t ReadInt(CMath* self, int32_t pin) {
  int32_t value = 0;
  NeedHost(self);
  self->host(&self->record, GUI_HC_GET_PIN_VALUE, pin, 0, &value, 0.0f);
  return value;
}

static float ReadFloat(CMath* self, int32_t pin) {
  float value = 0.0f;
  NeedHost(self);
  self->host(&self->record, GUI_HC_GET_PIN_VALUE, pin, 0, &value, 0.0f);
  return value;
}

static void Evaluate(CMath* self, int32_t changed) {
  double y;
  if (self->busy) return;
  self->busy = 1;
  if (changed == kPinMode) {
    self->mode = (int16_t)ReadInt(self, kPinMode);
  } else if (changed == kPinX) {
    self->x = ReadFloat(self, kPinX);
  }
  if (self->mode < 0 || self->mode > 3) {
    self->busy = 0;
    return;
  }
  self->x = ReadFloat(self, kPinX);
  switch (self->mode) {
    case 0: y = cos(self->x); break;
    case 1: y = sin(self->x); break;
    case 2: y = sqrt(self->x); break;
    default: y = tan(self->x); break;
  }
  self->result = (float)y;
  NeedHost(self);
  self->host(&self->record, GUI_HC_SET_PIN_VALUE, kPinResult, 0, NULL, self->result);
  self->busy = 0;
}

static se_ret_t Dispatch(GuiRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
  CMath* self = (CMath*)record->module;
  (void)value;
  (void)ptr;
  (void)opt;
  if (opcode == GUI_OP_PIN_VALUE_CHANGE) {
    Evaluate(self, index);
    return 0;
  }
  if (opcode == GUI_OP_CLOSE) {
    free(self);
    return 0;
  }
  return 0;
}

SE_EXPORT int32_t getModuleProperties(int32_t index, ModuleProperties* properties) {
  if (!properties) return 0;
  properties->sdk_version = 2230;
  if (index != 0) return 0;
  properties->name = properties->id = "CMath";
  properties->about = "The math module's GUI half by hand, for the benchmarks.";
  properties->flags = 0;
  return 1;
}

SE_EXPORT void* makeModule(int32_t index, int32_t type, SEHostCallback seaudioMaster, int32_t host_context) {
  CMath* self;
  if (index != 0 || type != MT_GUI) return NULL;
  self = (CMath*)calloc(1, sizeof *self);
  if (!self) return NULL;
  memcpy(self->record.magic, "MPES", 4);
  self->record.version = 1;
  self->record.host_context = host_context;
  self->record.module = (SEGUI_base*)self;
  self->record.dispatcher = &Dispatch;
  self->host = seaudioMaster;
  self->busy = 1;
  self->mode = (int16_t)ReadInt(self, kPinMode);
  self->x = ReadFloat(self, kPinX);
  self->busy = 0;
  return &self->record;
}
