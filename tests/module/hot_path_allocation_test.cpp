// The calls a host makes often allocate nothing: a GUI evaluation, every GUI
// opcode but close, every audio opcode but open and close, a process call and
// an event delivery. The module is driven through its records, as a host
// drives it, with a callback that answers from an array and allocates nothing
// itself; every global operator new and, where the C library allows it, every
// malloc-family call made during such a call is counted.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <cmath>
#include <new>

#include "AudioRecord.h"
#include "GuiRecord.h"
#include "ModuleEntry.h"
#include "SEEvent.h"
#include "SEPinProperties.h"
#include "replaced_allocator.h"
#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define SE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SE_SANITIZED 1
#endif
#endif

// The C library's own allocator is replaceable on glibc; a sanitizer brings
// its own, so there only operator new is counted.
#if defined(__GLIBC__) && !defined(SE_SANITIZED)
#define SE_COUNT_MALLOC 1
#endif

namespace {

bool g_counting = false;
long g_allocations = 0;

void CountIfMeasuring() {
  if (g_counting) ++g_allocations;
}

// Each allocation counts once: in malloc where the C library's allocator is
// replaced, else here.
void* Allocate(size_t size) {
#ifndef SE_COUNT_MALLOC
  CountIfMeasuring();
#endif
  return malloc(size ? size : 1);
}

// Out of line, so that the compiler does not pair a new-expression with the
// free inside and warn of a mismatch.
[[gnu::noinline]] void Release(void* p) { free(p); }

}  // namespace

void* TestAllocate(size_t size) { return Allocate(size); }
void TestRelease(void* p) { Release(p); }

#ifdef SE_COUNT_MALLOC
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);

void* malloc(size_t size) noexcept {
  CountIfMeasuring();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
  CountIfMeasuring();
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) noexcept {
  CountIfMeasuring();
  return __libc_realloc(p, size);
}
void free(void* p) noexcept { __libc_free(p); }
}
#endif

namespace {

// The host: pin values, the sample clock, and how many calls it answered.
struct ArrayHost {
  uint32_t pins[8];
  uint32_t clock;
  long calls;
};
ArrayHost g_host;

se_ret_t ArrayCallback(void*, int32_t opcode, int32_t index, int32_t, void* ptr, float opt) {
  ++g_host.calls;
  uint32_t& pin = g_host.pins[static_cast<uint32_t>(index) & 7u];
  switch (opcode) {
    case GUI_HC_GET_PIN_VALUE:  // with a null ptr: HC_GET_PIN_COUNT, answered 0
      if (ptr) memcpy(ptr, &pin, sizeof pin);
      return 0;
    case GUI_HC_SET_PIN_VALUE:
      memcpy(&pin, &opt, sizeof pin);
      return 0;
    case HC_GET_SAMPLE_CLOCK:
      return static_cast<se_ret_t>(g_host.clock);
    default:
      return 0;
  }
}

// Counts the allocations `call` makes.
template <class Call>
long AllocationsDuring(Call call) {
  g_allocations = 0;
  g_counting = true;
  call();
  g_counting = false;
  return g_allocations;
}

void* volatile g_escape;  // keeps the counter check's allocations from being optimised away

class HotPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&g_host, 0, sizeof g_host);
    g_host.pins[0] = 0;                    // "Mode": cos
    g_host.pins[1] = FloatBits(0.5f);         // "X"
    g_host.clock = 4096;
    gui = static_cast<GuiRecord*>(makeModule(0, 2, &ArrayCallback, 0));
    audio = static_cast<AudioRecord*>(makeModule(0, 1, &ArrayCallback, 0));
    ASSERT_NE(gui, nullptr);
    ASSERT_NE(audio, nullptr);
    Audio(OP_OPEN);
  }
  void TearDown() override {
    if (gui) Gui(GUI_OP_CLOSE);
    if (audio) Audio(OP_CLOSE);
  }
  se_ret_t Gui(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
    return gui->dispatcher(gui, opcode, index, value, ptr, opt);
  }
  se_ret_t Audio(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
    return audio->dispatcher(audio, opcode, index, value, ptr, opt);
  }
  GuiRecord* gui = nullptr;
  AudioRecord* audio = nullptr;
};

TEST(AllocationCounter, SeesOperatorNewAndTheCLibrary) {
  EXPECT_EQ(AllocationsDuring([] {
              int* p = new int(7);
              g_escape = p;
              delete p;
            }),
            1);
#ifdef SE_COUNT_MALLOC
  EXPECT_EQ(AllocationsDuring([] {
              void* p = malloc(16);
              g_escape = p;
              p = realloc(p, 64);
              g_escape = p;
              free(p);
              g_escape = calloc(2, 8);
              free(g_escape);
            }),
            3);
#endif
}

TEST_F(HotPaths, GuiEvaluationsAllocateNothing) {
  for (int32_t mode : {0, 1, 2, 3, 4, -1, 65536}) {
    g_host.pins[0] = static_cast<uint32_t>(mode);
    for (int32_t pin : {0, 1, 2, 7}) {
      g_host.calls = 0;
      se_ret_t answer = -1;
      EXPECT_EQ(AllocationsDuring([&] { answer = Gui(GUI_OP_PIN_VALUE_CHANGE, pin); }), 0)
          << "mode " << mode << " pin " << pin;
      EXPECT_EQ(answer, 0);
      // The evaluation did run: a full one reads "X" and writes "Result".
      if ((mode & 0xFFFF) < 4) {
        EXPECT_GE(g_host.calls, 2) << "mode " << mode << " pin " << pin;
      }
    }
  }
  EXPECT_EQ(g_host.pins[2], FloatBits(static_cast<float>(std::cos(0.5))));  // mode 65536 is cos
}

TEST_F(HotPaths, EveryGuiOpcodeButCloseAllocatesNothing) {
  int32_t scratch[8] = {};
  for (int32_t opcode : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 100, -1}) {
    for (int32_t index : {0, 1, 2}) {
      EXPECT_EQ(AllocationsDuring([&] { Gui(opcode, index, 9, scratch, 0.25f); }), 0)
          << "opcode " << opcode << " index " << index;
    }
  }
}

TEST_F(HotPaths, EveryAudioOpcodeButOpenAndCloseAllocatesNothing) {
  for (int32_t opcode : {2, 3, 4, 5, 8, 9, 11, 12, 13, 14, 255, -1}) {
    for (int32_t index : {0, 3}) {
      int32_t scratch[8] = {};
      EXPECT_EQ(AllocationsDuring([&] { Audio(opcode, index, 512, scratch, 48000.0f); }), 0)
          << "opcode " << opcode << " index " << index;
    }
  }
  for (int32_t pin = 0; pin < 4; ++pin) {
    SEPinProperties properties;
    memset(&properties, 0, sizeof properties);
    se_ret_t exists = -1;
    EXPECT_EQ(AllocationsDuring([&] { exists = Audio(OP_GET_PIN_PROPERTIES, pin, 0, &properties); }), 0) << pin;
    EXPECT_EQ(exists, pin < 3 ? 1 : 0);
  }
}

TEST_F(HotPaths, ProcessCallsAndEventDeliveriesAllocateNothing) {
  g_host.calls = 0;
  EXPECT_EQ(AllocationsDuring([&] {
              for (int run = 0; run < 8; ++run) audio->process_function(audio->module, run * 8, 8);
            }),
            0);
  EXPECT_EQ(g_host.calls, 8);  // the module's process function calls the host once per run

  for (int32_t type : {int32_t{EVT_TIMED_MESSAGE}, int32_t{EVT_RUN_FUNCTION}, 1, 6, 99}) {
    SEEvent event = {g_host.clock, type, 5, -1, 0, nullptr};
    EXPECT_EQ(AllocationsDuring([&] { audio->event_function(audio->module, &event); }), 0) << type;
  }
}

}  // namespace
