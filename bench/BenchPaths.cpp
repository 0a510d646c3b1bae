#include "BenchPaths.h"

#include <dlfcn.h>

#include "ArrayHost.h"
#include "FloorPath.h"
#include "ModuleEntry.h"

namespace sebench {

const char* const kModeNames[kModeCount] = {"cos", "sin", "sqrt", "tan"};

SEHostCallback volatile g_host = &ArrayHostCallback;

namespace {

typedef void (*FloorFunction)(SEHostCallback host, void* record);
constexpr FloorFunction kFloors[kModeCount] = {&FloorCos, &FloorSin, &FloorSqrt, &FloorTan};
typedef double (*BareFunction)(double x);
constexpr BareFunction kBares[kModeCount] = {&BareCos, &BareSin, &BareSqrt, &BareTan};

typedef void* (*MakeModuleFunction)(int32_t index, int32_t type, SEHostCallback seaudioMaster,
                                    int32_t host_context);
MakeModuleFunction g_make_module = &makeModule;

}  // namespace

const char* const kModuleLibraryPath = SE_MODULE_LIBRARY;

std::string UseModuleLibrary(const char* path) {
  // Never closed: the halves made from it may live until the program ends.
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) return dlerror();
  void* make = dlsym(library, "makeModule");
  if (!make) return std::string(path) + " does not export makeModule";
  g_make_module = reinterpret_cast<MakeModuleFunction>(make);
  return std::string();
}

void UseLinkedModule() { g_make_module = &makeModule; }

GuiHalf::GuiHalf(int mode) {
  SetPinInt(0, mode);
  SetPinFloat(1, kX);
  m_record = static_cast<GuiRecord*>(g_make_module(0, 2, g_host, 0));
}

GuiHalf::~GuiHalf() { m_record->dispatcher(m_record, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f); }

AudioHalf::AudioHalf() : m_record(static_cast<AudioRecord*>(g_make_module(0, 1, g_host, 0))) { Open(); }

AudioHalf::~AudioHalf() { m_record->dispatcher(m_record, OP_CLOSE, 0, 0, nullptr, 0.0f); }

// The record is any address: the array host ignores it. The host carries the
// same pin values as for the GUI half, so the math works on the same operand.
FloorPath::FloorPath(int mode) : m_function(kFloors[mode]), m_record(&g_array_host) {
  SetPinInt(0, mode);
  SetPinFloat(1, kX);
}

double volatile BarePath::g_operand = kX;

BarePath::BarePath(int mode) : m_function(kBares[mode]) {}

void MakeAndClose(int32_t type) {
  void* record = g_make_module(0, type, g_host, 0);
  if (type == 2) {
    GuiRecord* gui = static_cast<GuiRecord*>(record);
    gui->dispatcher(gui, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f);
  } else {
    AudioRecord* audio = static_cast<AudioRecord*>(record);
    audio->dispatcher(audio, OP_CLOSE, 0, 0, nullptr, 0.0f);
  }
}

}  // namespace sebench
