// A GUI half stays sound when the heap or the host fails it: a failed text
// buffer ends the host's call with the answer 0 and nothing thrown at the
// host, and garbage answers (huge, zero or negative counts, null text, text
// without NUL, values never written) are read without going past what the
// host gave. Under the sanitize preset any read out of bounds fails here.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <new>
#include <string>

#include "HostFaults.h"
#include "SEGUI_base.h"
#include "StandInHost.h"
#include "replaced_allocator.h"
#include "test_support.h"

namespace {

// Allocations fail while g_fail_all is set, and always above g_largest bytes,
// so a huge count never reserves real memory.
bool g_fail_all = false;
size_t g_largest = size_t{1} << 20;

void* Allocate(size_t size) {
  if (g_fail_all || size > g_largest) return nullptr;
  return malloc(size ? size : 1);
}

// Out of line, so that the compiler does not pair a new-expression with the
// free inside and warn of a mismatch.
[[gnu::noinline]] void Release(void* p) { free(p); }

}  // namespace

void* TestAllocate(size_t size) { return Allocate(size); }
void TestRelease(void* p) { Release(p); }

namespace {

constexpr int32_t kTextPin = 3;

// Reads pin 3's texts: on a pin change, and on GUI opcode 10, which then
// answers true, so the answer shows whether the handler ran to its end.
class TextReader : public SEGUI_base {
 public:
  using SEGUI_base::SEGUI_base;
  void OnPinValueChange(GuiPin* pin) override {
    wide = pin->GetValueTextW();
    narrow = pin->GetValueText();
    ++completed;
  }
  bool OnGuiOpcode10() override {
    wide = GetPin(kTextPin)->GetValueTextW();
    ++completed;
    return true;
  }
  std::u16string wide = u"unread";
  std::string narrow = "unread";
  int completed = 0;
};

class FaultyHost : public ::testing::Test {
 protected:
  void SetUp() override {
    host.SetPinTextW(kTextPin, u"hello");
    host.SetPinText(kTextPin, "narrow");
    host.CreateGui([this](SEHostCallback cb, int32_t ctx) {
      reader = new TextReader(cb, ctx);
      return reader->Record();
    });
  }
  void TearDown() override { g_fail_all = false; }
  // From the host's answer to the count on, every allocation fails: the
  // module's own buffer is the next one, and the host allocates nothing until
  // the call returns (its trace entry for the call already exists).
  void FailAllocationsOnceTheCountIsAnswered() {
    hook = host.OnCallback([](sehost::StandInHost&, const sehost::TraceEntry& entry) {
      if (entry.opcode == GUI_HC_GET_PIN_TEXT_W && entry.value == 0) g_fail_all = true;
    });
  }
  // Sends opcode 10 and returns its answer, with the callbacks it caused in `calls`.
  se_ret_t ReadWide(std::vector<sehost::TraceEntry>* calls = nullptr) {
    host.ClearTrace();
    const se_ret_t answer = host.GuiDispatch(10);
    if (calls) *calls = host.Callbacks();
    return answer;
  }
  sehost::StandInHost host;
  setest::HostFaults faults{host};
  sehost::Subscription hook;  // ends before the host
  TextReader* reader = nullptr;
};

TEST_F(FaultyHost, AFailedTextBufferEndsTheCallWithZeroAndTheHalfCarriesOn) {
  FailAllocationsOnceTheCountIsAnswered();
  host.ClearTrace();
  const se_ret_t answer = host.GuiDispatch(10);
  g_fail_all = false;
  const auto calls = host.Callbacks();
  host.ClearTrace();
  host.NotifyGui(kTextPin);
  g_fail_all = false;
  hook.Cancel();
  const auto notify_calls = host.Callbacks();
  const se_ret_t notify_answer = host.Trace().front().result;

  EXPECT_EQ(answer, 0);

  // Only the count was asked for; the buffer was never handed to the host.
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].opcode, GUI_HC_GET_PIN_TEXT_W);
  EXPECT_EQ(calls[0].value, 0);
  EXPECT_EQ(calls[0].ptr, nullptr);
  EXPECT_EQ(notify_answer, 0);
  EXPECT_EQ(notify_calls.size(), 1u);
  EXPECT_EQ(reader->completed, 0);
  EXPECT_EQ(reader->wide, u"unread");

  std::vector<sehost::TraceEntry> again;
  EXPECT_EQ(ReadWide(&again), 1);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[1].value, 6);
  EXPECT_EQ(reader->wide, u"hello");
}

TEST_F(FaultyHost, HugeCountsEndTheCallWithZero) {
  faults.wide_count_override = true;
  for (int32_t count : {INT32_MAX, INT32_MAX - 1, 1 << 30, (1 << 20) + 1}) {
    faults.wide_count = count;
    std::vector<sehost::TraceEntry> calls;
    EXPECT_EQ(ReadWide(&calls), 0) << count;
    EXPECT_EQ(calls.size(), 1u) << count;
  }
  EXPECT_EQ(reader->completed, 0);
}

TEST_F(FaultyHost, ZeroAndNegativeCountsReadAsEmptyWithoutASecondCall) {
  faults.wide_count_override = true;
  for (int32_t count : {0, -1, -6, INT32_MIN}) {
    faults.wide_count = count;
    reader->wide = u"unread";
    std::vector<sehost::TraceEntry> calls;
    EXPECT_EQ(ReadWide(&calls), 1) << count;
    EXPECT_EQ(calls.size(), 1u) << count;
    EXPECT_EQ(reader->wide, u"") << count;
  }
}

TEST_F(FaultyHost, TextWithoutNulIsCutAtTheCount) {
  host.SetPinTextW(kTextPin, u"abcdefgh");
  faults.wide_text_without_nul = true;
  faults.wide_count_override = true;
  for (int32_t count : {1, 4, 8, 20}) {
    faults.wide_count = count;
    std::vector<sehost::TraceEntry> calls;
    EXPECT_EQ(ReadWide(&calls), 1) << count;
    ASSERT_EQ(calls.size(), 2u) << count;
    EXPECT_EQ(calls[1].value, count);
    // The host repeats the text to fill the whole count.
    std::u16string expected;
    for (int32_t i = 0; i < count; ++i) expected += u"abcdefgh"[i % 8];
    EXPECT_EQ(reader->wide, expected) << count;
  }
}

TEST_F(FaultyHost, ANullTextReadsAsEmpty) {
  faults.null_text = true;
  host.NotifyGui(kTextPin);
  EXPECT_EQ(reader->narrow, "");
  EXPECT_EQ(reader->wide, u"hello");
  EXPECT_EQ(reader->completed, 1);
}

// A callback that answers every opcode with garbage and writes nothing.
se_ret_t g_garbage_answer = 0;
int g_garbage_calls = 0;
se_ret_t GarbageHost(void*, int32_t, int32_t, int32_t, void*, float) {
  ++g_garbage_calls;
  return g_garbage_answer;
}

TEST(GarbageHost, ValuesNeverWrittenReadAsZeroAndCountsAreCutToThirtyTwoBits) {
  SEGUI_base gui(&GarbageHost, 0);
  g_garbage_answer = -123456;
  EXPECT_EQ(gui.GetPin(0)->GetValueInt(), 0);
  EXPECT_EQ(FloatBits(gui.GetPin(0)->GetValueFloat()), 0u);
  EXPECT_EQ(gui.GetPin(0)->GetValueTextW(), u"");  // a negative count

  // Pointer-wide answers: a count beyond 32 bits is cut to the largest the
  // host can be told, which the allocator here refuses.
  if (sizeof(se_ret_t) > 4) {
    g_garbage_answer = static_cast<se_ret_t>(INT64_C(0x100000005));
    g_garbage_calls = 0;
    EXPECT_THROW(gui.GetPin(0)->GetValueTextW(), std::bad_alloc);
    EXPECT_EQ(g_garbage_calls, 1);
  }
  // A small count whose buffer the host leaves untouched reads as empty.
  g_garbage_answer = 3;
  EXPECT_EQ(gui.GetPin(0)->GetValueTextW(), u"");
}

}  // namespace
