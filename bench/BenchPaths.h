#pragma once
// The measured paths, shared by the benchmarks and the instruction-count
// driver so both measure exactly the same code.

#include <stdint.h>

#include <string>

#include "AudioRecord.h"
#include "GuiRecord.h"
#include "se_boundary.h"

namespace sebench {

// The modes of "Mode", in list order, with their names.
constexpr int kModeCount = 4;
extern const char* const kModeNames[kModeCount];

// The value of "X" every measurement uses.
constexpr float kX = 0.7f;

// Where the framework paths get the module: the built module library loaded
// by its path with dlopen, as a host loads it (what the programs measure by
// default), or the copy linked statically into this program (until a library
// is loaded, and with --static).
// Loads the library at `path` and uses its makeModule from then on; answers
// an empty text, or what went wrong.
std::string UseModuleLibrary(const char* path);
// Uses the statically linked copy's makeModule from then on.
void UseLinkedModule();
// The built module library of this build tree.
extern const char* const kModuleLibraryPath;

// The callback both paths call, read through a volatile so that neither the
// framework path nor the floor is compiled against a known callback.
extern SEHostCallback volatile g_host;

// A GUI half made by the library's makeModule on the array host, with "Mode"
// set to `mode` and "X" to kX; closed by the destructor.
class GuiHalf {
 public:
  explicit GuiHalf(int mode);
  ~GuiHalf();
  GuiHalf(const GuiHalf&) = delete;
  GuiHalf& operator=(const GuiHalf&) = delete;

  // One evaluation as a host sends it: GUI_OP_PIN_VALUE_CHANGE for "X"
  // through the record's dispatcher.
  void Evaluate() { m_record->dispatcher(m_record, GUI_OP_PIN_VALUE_CHANGE, 1, 0, nullptr, 0.0f); }

 private:
  GuiRecord* m_record;
};

// An opened audio half made by makeModule on the array host.
class AudioHalf {
 public:
  AudioHalf();
  ~AudioHalf();
  AudioHalf(const AudioHalf&) = delete;
  AudioHalf& operator=(const AudioHalf&) = delete;

  void Open() { m_record->dispatcher(m_record, OP_OPEN, 0, 0, nullptr, 0.0f); }
  void Process() { m_record->process_function(m_record->module, 0, 64); }

 private:
  AudioRecord* m_record;
};

// The floor for one mode: the same three host calls and the same math
// function, with no framework. Like the framework path, each run is one call
// through a pointer, with the callback read from g_host.
class FloorPath {
 public:
  explicit FloorPath(int mode);
  void Run() const { m_function(g_host, m_record); }

 private:
  void (*m_function)(SEHostCallback host, void* record);
  void* m_record;
};

// The math function of one mode alone, on an operand read from a volatile.
class BarePath {
 public:
  explicit BarePath(int mode);
  double Run() const { return m_function(g_operand); }

  static double volatile g_operand;

 private:
  double (*m_function)(double x);
};
// makeModule for one half (1 audio, 2 GUI), then its close opcode.
void MakeAndClose(int32_t type);

}  // namespace sebench
