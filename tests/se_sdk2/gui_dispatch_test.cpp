// How the GUI record's dispatcher routes the host's opcodes to the handlers.

#include <fenv.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "SEGUI_base.h"
#include "StandInHost.h"
#include "test_support.h"

namespace {

// One handler call as the probe saw it.
struct Seen {
  std::string handler;
  int32_t a = 0;
  int32_t b = 0;
  void* ptr = nullptr;
  uint32_t opt_bits = 0;
  int32_t pin_index = 0;
  SEGUI_base* pin_module = nullptr;
  GuiPin* pin_address = nullptr;
};

class ProbeGui : public SEGUI_base {
 public:
  ProbeGui(SEHostCallback cb, int32_t ctx, std::vector<Seen>* log) : SEGUI_base(cb, ctx), m_log(log) {}
  ~ProbeGui() override { m_log->push_back({"~ProbeGui"}); }

  void Open(bool flag) override { m_log->push_back({"Open", flag ? 1 : 0}); }
  void Close() override { m_log->push_back({"Close"}); }
  void OnGuiOpcode2(int32_t index, void* ptr) override { m_log->push_back({"2", index, 0, ptr}); }
  void OnGuiOpcode3(void* ptr, float opt, GuiPair p) override { Pair("3", ptr, opt, p); }
  void OnGuiOpcode4(void* ptr, float opt, GuiPair p) override { Pair("4", ptr, opt, p); }
  void OnGuiOpcode5(void* ptr, float opt, GuiPair p) override { Pair("5", ptr, opt, p); }
  void OnGuiOpcode6(int32_t value, int32_t index, void* ptr) override { m_log->push_back({"6", value, index, ptr}); }
  void OnGuiOpcode8(void* ptr) override { m_log->push_back({"8", 0, 0, ptr}); }
  void OnGuiOpcode9(void* ptr) override { m_log->push_back({"9", 0, 0, ptr}); }
  bool OnGuiOpcode10() override {
    m_log->push_back({"10"});
    if (m_throw) throw std::runtime_error("handler failed");
    return m_answer10;
  }
  void OnGuiOpcode11(int32_t index) override { m_log->push_back({"11", index}); }
  void OnGuiOpcode12(int32_t index) override { m_log->push_back({"12", index}); }
  void OnPinValueChange(GuiPin* pin) override {
    Seen s{"OnPinValueChange"};
    s.pin_index = pin->m_index;
    s.pin_module = pin->m_module;
    s.pin_address = pin;
    m_log->push_back(s);
  }

  bool m_answer10 = false;
  bool m_throw = false;

 private:
  void Pair(const char* name, void* ptr, float opt, GuiPair p) {
    Seen s{name, p.first, p.second, ptr, FloatBits(opt)};
    m_log->push_back(s);
  }
  std::vector<Seen>* m_log;
};

class GuiDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    host.CreateGui([this](SEHostCallback cb, int32_t ctx) {
      probe = new ProbeGui(cb, ctx, &log);
      return probe->Record();
    });
  }
  std::vector<Seen> log;  // outlives the host, which closes the probe (and logs Close) when it goes
  sehost::StandInHost host;
  ProbeGui* probe = nullptr;
};

TEST_F(GuiDispatch, OpenIsTrueOnlyForIndexOne) {
  EXPECT_EQ(host.GuiDispatch(GUI_OP_OPEN, 1), 0);
  EXPECT_EQ(host.GuiDispatch(GUI_OP_OPEN, 0), 0);
  EXPECT_EQ(host.GuiDispatch(GUI_OP_OPEN, 2), 0);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].a, 1);
  EXPECT_EQ(log[1].a, 0);
  EXPECT_EQ(log[2].a, 0);
}

TEST_F(GuiDispatch, OpcodesOutsideTheTableCallNothingAndAnswerZero) {
  for (int32_t opcode : {13, 100, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(host.GuiDispatch(opcode, 1, 2, &log, 3.0f), 0) << opcode;
  }
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(host.Callbacks().empty());
}

TEST_F(GuiDispatch, OpcodeSixHandsValueBeforeIndex) {
  int marker = 0;
  EXPECT_EQ(host.GuiDispatch(6, /*index*/ 5, /*value*/ 9, &marker), 0);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].handler, "6");
  EXPECT_EQ(log[0].a, 9);
  EXPECT_EQ(log[0].b, 5);
  EXPECT_EQ(log[0].ptr, &marker);
}

TEST_F(GuiDispatch, OpcodesThreeToFiveHandPtrOptBitForBitAndThePair) {
  // Every argument distinct and non-zero, so a swapped or dropped one shows.
  struct Case {
    int32_t opcode, index, value;
    void* ptr;
    uint32_t opt_bits;
  };
  int markers[3] = {};
  const Case cases[] = {{3, 11, -12, &markers[0], 0x7FC12345u},  // a quiet NaN with a payload
                        {4, -21, 22, &markers[1], 0x80000001u},  // the smallest negative subnormal
                        {5, INT32_MAX, INT32_MIN, &markers[2], FloatBits(2.5f)}};
  for (const Case& c : cases) EXPECT_EQ(host.GuiDispatch(c.opcode, c.index, c.value, c.ptr, BitsFloat(c.opt_bits)), 0);
  ASSERT_EQ(log.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(log[i].handler, std::to_string(cases[i].opcode));
    EXPECT_EQ(log[i].ptr, cases[i].ptr) << i;
    EXPECT_EQ(log[i].opt_bits, cases[i].opt_bits) << i;
    EXPECT_EQ(log[i].a, cases[i].index) << i;   // the pair's first
    EXPECT_EQ(log[i].b, cases[i].value) << i;   // the pair's second
  }
}

TEST_F(GuiDispatch, ASignallingNanReachesTheHandlersOfThreeToFiveUnchangedRaisingNoFlag) {
  float nan;  // built in memory: a float returned by a function would pass the x87 on 32-bit x86
  memcpy(&nan, &kSignallingNanBits, sizeof nan);
  feclearexcept(FE_ALL_EXCEPT);
  for (int32_t opcode : {3, 4, 5}) EXPECT_EQ(host.GuiDispatch(opcode, 1, 2, nullptr, nan), 0);
  const int raised = fetestexcept(FE_ALL_EXCEPT);
  EXPECT_EQ(raised, 0);
  ASSERT_EQ(log.size(), 3u);
  for (const Seen& seen : log) EXPECT_EQ(seen.opt_bits, kSignallingNanBits) << seen.handler;
}

TEST_F(GuiDispatch, RemainingOpcodesReachTheirHandlersWithTheirArguments) {
  int marker = 0;
  EXPECT_EQ(host.GuiDispatch(2, 4, 99, &marker), 0);
  EXPECT_EQ(host.GuiDispatch(8, 4, 99, &marker), 0);
  EXPECT_EQ(host.GuiDispatch(9, 4, 99, &marker), 0);
  EXPECT_EQ(host.GuiDispatch(11, -6, 99, &marker), 0);
  EXPECT_EQ(host.GuiDispatch(12, 77, 99, &marker), 0);
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0].handler, "2");
  EXPECT_EQ(log[0].a, 4);
  EXPECT_EQ(log[0].ptr, &marker);
  EXPECT_EQ(log[1].handler, "8");
  EXPECT_EQ(log[1].ptr, &marker);
  EXPECT_EQ(log[2].handler, "9");
  EXPECT_EQ(log[2].ptr, &marker);
  EXPECT_EQ(log[3].handler, "11");
  EXPECT_EQ(log[3].a, -6);
  EXPECT_EQ(log[4].handler, "12");
  EXPECT_EQ(log[4].a, 77);
}

TEST_F(GuiDispatch, OpcodeTenAnswersTheHandlersBool) {
  EXPECT_EQ(host.GuiDispatch(10), 0);
  probe->m_answer10 = true;
  EXPECT_EQ(host.GuiDispatch(10), 1);
}

TEST(GuiDispatchBase, OpcodeTenOnTheBaseAnswersZero) {
  sehost::StandInHost host;
  host.CreateGui([](SEHostCallback cb, int32_t ctx) { return (new SEGUI_base(cb, ctx))->Record(); });
  EXPECT_EQ(host.GuiDispatch(10), 0);
  EXPECT_EQ(host.GuiDispatch(GUI_OP_PIN_VALUE_CHANGE, 1), 0);
  EXPECT_TRUE(host.Callbacks().empty());
}

TEST_F(GuiDispatch, PinValueChangeGetsALocalHandleForThisInstance) {
  GuiPin* shared = probe->GetPin(0);
  EXPECT_EQ(host.GuiDispatch(GUI_OP_PIN_VALUE_CHANGE, 2), 0);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].pin_index, 2);
  EXPECT_EQ(log[0].pin_module, probe);
  EXPECT_NE(log[0].pin_address, shared);
}

TEST_F(GuiDispatch, CloseRunsCloseThenTheDerivedDestructorAndAnswersOne) {
  EXPECT_EQ(host.CloseGui(), 1);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].handler, "Close");
  EXPECT_EQ(log[1].handler, "~ProbeGui");
  EXPECT_EQ(host.gui(), nullptr);
}

TEST_F(GuiDispatch, AnExceptionInAHandlerStopsAtTheEntryAndAnswersZero) {
  probe->m_answer10 = true;
  probe->m_throw = true;
  EXPECT_EQ(host.GuiDispatch(10), 0);
  probe->m_throw = false;
  EXPECT_EQ(host.GuiDispatch(10), 1);  // the instance is still usable
}

}  // namespace
