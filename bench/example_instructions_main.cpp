// Runs one path of an example module's audio half (or GUI half) a given
// number of times, for counting instructions under callgrind
// (scripts/example-instructions.sh runs it with N and 2N and takes the
// difference), or measures the heap bytes of live instances. The module is a
// built library, loaded by path as a host loads it, driven by a host that
// answers from arrays: pin count, pin buffers and the sample clock; every
// other callback answers 0.
//
//   se_example_instructions MODULE PINS PATH COUNT [INSTANCES]
//
// PINS is the audio-side pin count the host reports. PATH is one of
//   process1, process64  a process call of 1 or 64 frames
//   event                an EVT_PIN_STATUS with status 1 for audio pin 0 (a
//                        control change), at the current clock
//   audio-life, gui-life makeModule, then the close opcode (the audio half
//                        also gets its sample rate, block size and OP_OPEN)
//   bytes-audio, bytes-gui  no loop: prints the heap bytes per live half, over
//                        COUNT halves made (and, for audio, opened)
// INSTANCES (default 1) halves are made and opened first; the calls go to
// them in turn.

#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "AudioRecord.h"
#include "GuiRecord.h"
#include "ModuleLibrary.h"

namespace {

constexpr int32_t kMaxPins = 64;
constexpr int32_t kBlock = 64;
float g_buffers[kMaxPins][kBlock];
int32_t g_pins = 0;

se_ret_t AudioHost(void*, int32_t opcode, int32_t index, int32_t, void*, float) {
  switch (opcode) {
    case HC_GET_PIN_COUNT:
      return g_pins;
    case HC_GET_PIN_BUFFER:
      return index >= 0 && index < g_pins ? reinterpret_cast<se_ret_t>(g_buffers[index]) : 0;
    default:  // the sample clock stays 0; events, statuses and switches are noted by nobody
      return 0;
  }
}

se_ret_t GuiHost(void*, int32_t opcode, int32_t, int32_t, void* ptr, float) {
  if (opcode == GUI_HC_GET_PIN_VALUE && ptr) memset(ptr, 0, 4);
  return 0;
}

AudioRecord* MakeAudio(SEMakeModule make) {
  auto* record = static_cast<AudioRecord*>(make(0, MT_AUDIO, &AudioHost, 0));
  if (!record) return nullptr;
  record->dispatcher(record, OP_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
  record->dispatcher(record, OP_SET_BLOCK_SIZE, 0, kBlock, nullptr, 0.0f);
  record->dispatcher(record, OP_OPEN, 0, 0, nullptr, 0.0f);
  return record;
}

void Close(AudioRecord* record) { record->dispatcher(record, OP_CLOSE, 0, 0, nullptr, 0.0f); }
void Close(GuiRecord* record) { record->dispatcher(record, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f); }

// Heap bytes in use, by the C library's own count.
size_t HeapInUse() { return mallinfo2().uordblks; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    fprintf(stderr, "usage: %s MODULE PINS PATH COUNT [INSTANCES]\n", argv[0]);
    return 2;
  }
  sehost::ModuleLibrary library(argv[1]);
  if (!library.ok()) {
    fprintf(stderr, "%s: %s\n", argv[0], library.error().c_str());
    return 2;
  }
  g_pins = atoi(argv[2]);
  const std::string path = argv[3];
  const long count = strtol(argv[4], nullptr, 10);
  const long instances = argc == 6 ? strtol(argv[5], nullptr, 10) : 1;
  if (g_pins < 0 || g_pins > kMaxPins || count < 0 || instances < 1) {
    fprintf(stderr, "%s: bad pin count, count or instances\n", argv[0]);
    return 2;
  }
  for (auto& buffer : g_buffers) {
    for (float& sample : buffer) sample = 0.5f;
  }
  const SEMakeModule make = library.makeModule();

  if (path == "bytes-audio" || path == "bytes-gui") {
    const bool audio = path == "bytes-audio";
    std::vector<void*> halves;
    halves.reserve(static_cast<size_t>(count));
    const size_t before = HeapInUse();
    for (long i = 0; i < count; ++i) {
      void* half = audio ? static_cast<void*>(MakeAudio(make)) : make(0, MT_GUI, &GuiHost, 0);
      if (!half) break;
      halves.push_back(half);
    }
    const size_t after = HeapInUse();
    if (halves.empty()) {
      printf("-\n");  // the module has no such half
      return 0;
    }
    printf("%.1f\n", static_cast<double>(after - before) / static_cast<double>(halves.size()));
    for (void* half : halves) audio ? Close(static_cast<AudioRecord*>(half)) : Close(static_cast<GuiRecord*>(half));
    return 0;
  }

  std::vector<AudioRecord*> live;
  for (long i = 0; i < instances; ++i) {
    AudioRecord* record = MakeAudio(make);
    if (!record) {
      fprintf(stderr, "%s: makeModule made no audio half\n", argv[0]);
      return 2;
    }
    live.push_back(record);
  }
  size_t next = 0;
  auto turn = [&] {
    AudioRecord* record = live[next];
    if (++next == live.size()) next = 0;
    return record;
  };
  SEEvent change = {0, EVT_PIN_STATUS, 1, 0, 0, nullptr};
  if (path == "process1" || path == "process64") {
    const int32_t frames = path == "process1" ? 1 : kBlock;
    for (long i = 0; i < count; ++i) {
      AudioRecord* record = turn();
      record->process_function(record->module, 0, frames);
    }
  } else if (path == "event") {
    for (long i = 0; i < count; ++i) {
      AudioRecord* record = turn();
      SEEvent copy = change;  // the host's own copy for each delivery
      record->event_function(record->module, &copy);
    }
  } else if (path == "audio-life") {
    for (long i = 0; i < count; ++i) Close(MakeAudio(make));
  } else if (path == "gui-life") {
    for (long i = 0; i < count; ++i) {
      auto* record = static_cast<GuiRecord*>(make(0, MT_GUI, &GuiHost, 0));
      if (record) Close(record);
    }
  } else {
    fprintf(stderr, "%s: unknown path %s\n", argv[0], path.c_str());
    return 2;
  }
  for (AudioRecord* record : live) Close(record);
  return 0;
}
