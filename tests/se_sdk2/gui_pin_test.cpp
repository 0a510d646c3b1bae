// The GUI side's calls into the host: pin handles, typed pin operations,
// texts and the pass-through calls.

#include <fenv.h>
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "HostFaults.h"
#include "SEGUI_base.h"
#include "StandInHost.h"
#include "it_enum_list.h"
#include "test_support.h"

namespace {

constexpr const char* kGuiFile = "..\\se_sdk2\\SEGUI_base";

// A GUI half whose notification handler runs whatever the test asks for.
class ScriptedGui : public SEGUI_base {
 public:
  using SEGUI_base::SEGUI_base;
  std::function<void(ScriptedGui&)> on_change;
  void OnPinValueChange(GuiPin*) override {
    if (on_change) on_change(*this);
  }
};

class GuiPinCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    host.CreateGui([this](SEHostCallback cb, int32_t ctx) {
      gui = new ScriptedGui(cb, ctx);
      return gui->Record();
    });
  }
  // Runs `script` inside a host call, as every module code runs.
  void Run(std::function<void(ScriptedGui&)> script) {
    gui->on_change = std::move(script);
    host.ClearTrace();
    host.NotifyGui(0);
  }
  sehost::StandInHost host;
  setest::HostFaults faults{host};
  ScriptedGui* gui = nullptr;
};

TEST_F(GuiPinCalls, GetPinHandsOutOneSharedHandle) {
  GuiPin* first = gui->GetPin(0);
  GuiPin* second = gui->GetPin(1);
  EXPECT_EQ(first, second);
  EXPECT_EQ(second->m_index, 1);
  EXPECT_EQ(second->m_module, gui);
  EXPECT_TRUE(host.Callbacks().empty());
}

TEST_F(GuiPinCalls, ValueWritesCarryTheValueInValueOrOpt) {
  Run([](ScriptedGui& g) {
    g.GetPin(2)->SetValueFloat(1.5f);
    g.GetPin(0)->SetValueInt(3);
  });
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].opcode, GUI_HC_SET_PIN_VALUE);
  EXPECT_EQ(calls[0].index, 2);
  EXPECT_EQ(calls[0].value, 0);
  EXPECT_EQ(calls[0].ptr, nullptr);
  EXPECT_EQ(calls[0].opt_bits, FloatBits(1.5f));
  EXPECT_EQ(calls[1].opcode, GUI_HC_SET_PIN_VALUE);
  EXPECT_EQ(calls[1].index, 0);
  EXPECT_EQ(calls[1].value, 3);
  EXPECT_EQ(calls[1].ptr, nullptr);
  EXPECT_EQ(calls[1].opt_bits, 0u);
  EXPECT_EQ(host.PinFloat(2), 1.5f);
  EXPECT_EQ(host.PinInt(0), 3);
}

TEST_F(GuiPinCalls, ValueReadsReturnTheHostsFourBytesAsFloatOrInt) {
  host.SetPinFloat(1, 0.25f);
  float as_float = 0.0f;
  int32_t as_int = 0;
  Run([&](ScriptedGui& g) {
    as_float = g.GetPin(1)->GetValueFloat();
    as_int = g.GetPin(1)->GetValueInt();
  });
  EXPECT_EQ(as_float, 0.25f);
  EXPECT_EQ(as_int, 0x3E800000);
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 2u);
  for (const auto& call : calls) {
    EXPECT_EQ(call.opcode, GUI_HC_GET_PIN_VALUE);
    EXPECT_EQ(call.index, 1);
    EXPECT_EQ(call.value, 0);
    EXPECT_NE(call.ptr, nullptr);
    EXPECT_EQ(call.opt_bits, 0u);
  }
}

TEST_F(GuiPinCalls, ASignallingNanIsReadAndWrittenBitForBitRaisingNoFlag) {
  host.SetPinBits(1, kSignallingNanBits);
  uint32_t read_bits = 0;
  int raised = -1;
  Run([&](ScriptedGui& g) {
    feclearexcept(FE_ALL_EXCEPT);
    const float x = g.GetPin(1)->GetValueFloat();
    memcpy(&read_bits, &x, sizeof read_bits);
    g.GetPin(2)->SetValueFloat(x);
    raised = fetestexcept(FE_ALL_EXCEPT);
  });
  EXPECT_EQ(raised, 0);
  EXPECT_EQ(read_bits, kSignallingNanBits);
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].opcode, GUI_HC_SET_PIN_VALUE);
  EXPECT_EQ(calls[1].opt_bits, kSignallingNanBits);
  EXPECT_EQ(host.PinBits(2), kSignallingNanBits);
}

TEST_F(GuiPinCalls, EightBitTextGoesBothWaysAndANullAnswerIsEmpty) {
  host.SetPinText(3, "from host");
  std::string read;
  Run([&](ScriptedGui& g) {
    g.GetPin(4)->SetValueText("to host");
    read = g.GetPin(3)->GetValueText();
  });
  EXPECT_EQ(read, "from host");
  EXPECT_EQ(host.Pin(4).text, "to host");
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].opcode, GUI_HC_SET_PIN_TEXT);
  EXPECT_EQ(calls[0].index, 4);
  EXPECT_EQ(calls[1].opcode, GUI_HC_GET_PIN_TEXT);
  EXPECT_EQ(calls[1].index, 3);
  EXPECT_EQ(calls[1].ptr, nullptr);
  for (const auto& call : calls) {
    EXPECT_EQ(call.value, 0);
    EXPECT_EQ(call.opt_bits, 0u);
  }

  faults.null_text = true;
  Run([&](ScriptedGui& g) { read = g.GetPin(3)->GetValueText(); });
  EXPECT_EQ(read, "");
}

TEST_F(GuiPinCalls, WideTextReservesTheHostsCountAndStopsAtNul) {
  host.SetPinTextW(5, u"h\u00e9llo");
  faults.wide_count_override = true;
  faults.wide_count = 6;
  std::u16string read;
  Run([&](ScriptedGui& g) { read = g.GetPin(5)->GetValueTextW(); });
  EXPECT_EQ(read, u"h\u00e9llo");
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].opcode, GUI_HC_GET_PIN_TEXT_W);
  EXPECT_EQ(calls[0].index, 5);
  EXPECT_EQ(calls[0].value, 0);
  EXPECT_EQ(calls[0].ptr, nullptr);
  EXPECT_EQ(calls[1].opcode, GUI_HC_GET_PIN_TEXT_W);
  EXPECT_EQ(calls[1].index, 5);
  EXPECT_EQ(calls[1].value, 6);
  EXPECT_NE(calls[1].ptr, nullptr);
  EXPECT_EQ(calls[0].opt_bits, 0u);
  EXPECT_EQ(calls[1].opt_bits, 0u);
}

TEST_F(GuiPinCalls, APinsWideTextFeedsTheEnumerationListAsItIs) {
  host.SetPinTextW(0, u"\u00e9t\u00e9=3,\U0001F600");
  std::u16string list;
  Run([&](ScriptedGui& g) { list = g.GetPin(0)->GetValueTextW(); });
  it_enum_list items(list);
  ASSERT_TRUE(items.FindIndex(1));
  EXPECT_EQ(items.CurrentItem()->text, u"\U0001F600");  // two 16-bit units, kept as they came
  EXPECT_EQ(items.CurrentItem()->value, 4);
  ASSERT_TRUE(items.FindValue(3));
  EXPECT_EQ(items.CurrentItem()->text, u"\u00e9t\u00e9");
}

TEST_F(GuiPinCalls, WideTextWithACountOfZeroOrLessIsEmptyAfterOneCall) {
  host.SetPinTextW(5, u"text");
  faults.wide_count_override = true;
  for (int32_t count : {0, -1, INT32_MIN}) {
    faults.wide_count = count;
    std::u16string read = u"unchanged";
    Run([&](ScriptedGui& g) { read = g.GetPin(5)->GetValueTextW(); });
    EXPECT_EQ(read, u"") << count;
    EXPECT_EQ(host.Callbacks().size(), 1u) << count;
  }
}

TEST_F(GuiPinCalls, WideTextWithoutNulIsCutAtTheCount) {
  host.SetPinTextW(5, u"abc");
  faults.wide_count_override = true;
  faults.wide_count = 4;
  faults.wide_text_without_nul = true;
  std::u16string read;
  Run([&](ScriptedGui& g) { read = g.GetPin(5)->GetValueTextW(); });
  EXPECT_EQ(read, u"abca");
}

#if SE_RECORDS_ARE_32BIT
TEST_F(GuiPinCalls, AWideCountTooLargeToReserveFailsAsAnAllocationAndTheEntryAnswersZero) {
  faults.wide_count_override = true;
  faults.wide_count = INT32_MAX;  // more characters than a 32-bit string can hold
  bool returned = false;
  bool bad_alloc = false;
  gui->on_change = [&](ScriptedGui& g) {
    try {
      g.GetPin(5)->GetValueTextW();
      returned = true;
    } catch (const std::bad_alloc&) {
      bad_alloc = true;
      throw;  // on to the entry, which answers 0
    }
  };
  EXPECT_EQ(host.GuiDispatch(GUI_OP_PIN_VALUE_CHANGE, 5), 0);
  EXPECT_FALSE(returned);
  EXPECT_TRUE(bad_alloc);
  EXPECT_EQ(host.Callbacks().size(), 1u);  // no second call without a buffer
}
#endif

TEST_F(GuiPinCalls, PassThroughCallsSendTheirArgumentsAndHandBackTheAnswer) {
  int markers[4] = {};
  host.SetGuiAnswer(8, 81);
  host.SetGuiAnswer(18, -18);
  host.SetGuiAnswer(19, 19);
  host.SetGuiAnswer(20, -5);
  se_ret_t r8 = 0, r18 = 0, r19 = 0;
  bool q20 = false;
  Run([&](ScriptedGui& g) {
    r8 = g.HostCall8(7, -9, &markers[0]);
    r18 = g.HostCall18(&markers[1]);
    r19 = g.HostCall19(&markers[2]);
    q20 = g.HostQuery20(&markers[3]);
  });
  EXPECT_EQ(r8, 81);
  EXPECT_EQ(r18, -18);
  EXPECT_EQ(r19, 19);
  EXPECT_TRUE(q20);  // any non-zero answer, negative too
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].opcode, 8);
  EXPECT_EQ(calls[0].index, 7);
  EXPECT_EQ(calls[0].value, -9);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(calls[i].ptr, &markers[i]) << i;
    EXPECT_EQ(calls[i].opt_bits, 0u) << i;
    if (i == 0) continue;
    EXPECT_EQ(calls[i].index, 0) << i;
    EXPECT_EQ(calls[i].value, 0) << i;
  }
  EXPECT_EQ(calls[1].opcode, 18);
  EXPECT_EQ(calls[2].opcode, 19);
  EXPECT_EQ(calls[3].opcode, 20);

  host.SetGuiAnswer(20, 0);
  Run([&](ScriptedGui& g) { q20 = g.HostQuery20(nullptr); });
  EXPECT_FALSE(q20);
}

TEST(GuiWithoutCallbackDeathTest, EveryHostCallFailsTheCallbackAssertion) {
  const std::string pattern = AssertionPattern("seaudioMaster", kGuiFile);
  SEGUI_base gui(nullptr, 0);
  EXPECT_DEATH(gui.CallHost(GUI_HC_GET_PIN_VALUE, 0, 0, nullptr, 0.0f), pattern);
  EXPECT_DEATH(gui.GetPin(1)->GetValueFloat(), pattern);
  EXPECT_DEATH(gui.HostCall8(0, 0, nullptr), pattern);
  EXPECT_DEATH(gui.HostCall18(nullptr), pattern);
  EXPECT_DEATH(gui.HostCall19(nullptr), pattern);
  EXPECT_DEATH(gui.HostQuery20(nullptr), pattern);
}

TEST(GuiWithoutCallback, ConstructionAndDispatchWithoutHostCallsAreFine) {
  auto* gui = new SEGUI_base(nullptr, 7);
  GuiRecord* record = gui->Record();
  EXPECT_EQ(record->dispatcher(record, 12, 0, 0, nullptr, 0.0f), 0);
  EXPECT_EQ(record->dispatcher(record, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

}  // namespace
