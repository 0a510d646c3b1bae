// Loads a module library by path and runs COUNT instances of each half
// through a whole life in the stand-in host: the audio half is made, asked for
// its pins, given a sample rate and block size, opened, processed (with a due
// event on the way) and closed; the GUI half is made, opened, notified of each
// pin's change (which evaluates and writes "Result") and closed. In every
// seventh life the host closes each half from inside one of its calls instead:
// the audio half from its process run, the GUI half from the write of
// "Result". Checks every "Result" against the C library. Meant to run under
// valgrind's memcheck.
//
//   se_lifecycle PATH/QV_Zolvexan.sem COUNT

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ModuleLibrary.h"
#include "StandInHost.h"

namespace {

constexpr int32_t kMode = 0;
constexpr int32_t kX = 1;
constexpr int32_t kResult = 2;

// The float "Result" must hold for `mode` and `x`; false for a mode that
// writes nothing.
bool Expected(int32_t mode, float x, float* result) {
  const double v = x;
  switch (mode) {
    case 0: *result = static_cast<float>(cos(v)); return true;
    case 1: *result = static_cast<float>(sin(v)); return true;
    case 2: *result = static_cast<float>(sqrt(v)); return true;
    case 3: *result = static_cast<float>(tan(v)); return true;
    default: return false;
  }
}

bool SameBits(float a, float b) { return memcmp(&a, &b, sizeof a) == 0; }

// One life of each half; answers the number of wrong results.
int RunOnce(SEMakeModule make_module, long i) {
  int failures = 0;
  const int32_t mode = static_cast<int32_t>(i % 5);  // 4 writes nothing
  const float x = 0.25f + static_cast<float>(i % 97) * 0.125f;
  sehost::StandInHost host;
  host.SetPinInt(kMode, mode);
  host.SetPinFloat(kX, x);
  host.SetPinFloat(kResult, -7.0f);

  if (!host.CreateAudio(make_module)) return 1;
  if (host.QueryPins().size() != 3) ++failures;
  host.AudioDispatch(OP_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
  host.AudioDispatch(OP_SET_BLOCK_SIZE, 0, 64);
  host.AudioDispatch(OP_OPEN);
  host.DeliverEvent(SEEvent{host.schedule().sample_clock(), EVT_TIMED_MESSAGE, 1, 2, 0, nullptr});
  host.schedule().RunBlock(64);
  host.AudioDispatch(OP_GET_PROCESS_FUNCTION_INFO);

  const bool close_inside = i % 7 == 6;
  se_ret_t closed_inside = 0;
  sehost::Subscription hook;
  if (close_inside) {
    hook = host.OnCallback([&](sehost::StandInHost& h, const sehost::TraceEntry& call) {
      if (call.opcode == HC_CODE_10 && h.audio()) closed_inside += h.CloseAudio();
      if (call.opcode == GUI_HC_SET_PIN_VALUE && h.gui()) closed_inside += h.CloseGui();
    });
    host.CallProcess(0, 64);
  }

  if (!host.CreateGui(make_module)) return failures + 1;
  host.GuiDispatch(GUI_OP_OPEN, 1);
  for (int32_t pin : {kMode, kX, kResult}) host.NotifyGui(pin);
  float want = 0.0f;
  const float got = host.PinFloat(kResult);
  const bool writes = Expected(mode, x, &want);
  if (writes ? !SameBits(got, want) : !SameBits(got, -7.0f)) ++failures;

  if (close_inside) {
    // Each close answered 1; the GUI half stays open where it writes nothing.
    if (closed_inside != (writes ? 2 : 1)) ++failures;
    if (!writes && host.CloseGui() != 1) ++failures;
    return failures;
  }
  if (host.CloseGui() != 1) ++failures;
  if (host.CloseAudio() != 1) ++failures;
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s MODULE.sem COUNT\n", argv[0]);
    return 2;
  }
  const long count = strtol(argv[2], nullptr, 10);
  long failures = 0;
  {
    sehost::ModuleLibrary library(argv[1]);
    if (!library.ok()) {
      fprintf(stderr, "%s\n", library.error().c_str());
      return 1;
    }
    for (long i = 0; i < count; ++i) failures += RunOnce(library.makeModule(), i);
  }
  printf("%ld lives of each half, %ld wrong results\n", count, failures);
  return failures == 0 ? 0 : 1;
}
