// The math module's GUI half: which host calls each notification makes, and
// the numbers it writes to "Result".

#include <gtest/gtest.h>

#include <cmath>

#include "GuiModule.h"
#include "StandInHost.h"
#include "test_support.h"

namespace {

constexpr int32_t kMode = GuiModule::PIN_MODE;
constexpr int32_t kX = GuiModule::PIN_X;
constexpr int32_t kResult = GuiModule::PIN_RESULT;

// A call as the table of expected host calls writes it.
struct Expected {
  int32_t opcode;
  int32_t index;
};
constexpr Expected kReadMode{GUI_HC_GET_PIN_VALUE, kMode};
constexpr Expected kReadX{GUI_HC_GET_PIN_VALUE, kX};
constexpr Expected kWriteResult{GUI_HC_SET_PIN_VALUE, kResult};

class MathGui : public ::testing::Test {
 protected:
  void Create(int32_t mode, float x) {
    host.SetPinInt(kMode, mode);
    host.SetPinFloat(kX, x);
    host.SetPinDatatype(kX, 6);
    host.SetPinDatatype(kResult, 6);
    record = host.CreateGui([](SEHostCallback cb, int32_t ctx) { return (new GuiModule(cb, ctx))->Record(); });
  }
  // Notifies `pin` and returns the callbacks it caused.
  std::vector<sehost::TraceEntry> Notify(int32_t pin) {
    host.ClearTrace();
    host.NotifyGui(pin);
    return host.Callbacks();
  }
  // Checks every argument of every callback against the expected sequence.
  void ExpectCalls(const std::vector<sehost::TraceEntry>& calls, std::vector<Expected> expected) {
    ASSERT_EQ(calls.size(), expected.size());
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].record, record) << i;
      EXPECT_EQ(calls[i].opcode, expected[i].opcode) << i;
      EXPECT_EQ(calls[i].index, expected[i].index) << i;
      EXPECT_EQ(calls[i].value, 0) << i;
      if (expected[i].opcode == GUI_HC_GET_PIN_VALUE) {
        EXPECT_NE(calls[i].ptr, nullptr) << i;
        EXPECT_EQ(calls[i].opt_bits, 0u) << i;
      } else {
        EXPECT_EQ(calls[i].ptr, nullptr) << i;
      }
    }
  }
  // The float the module wrote to "Result" after a notification of "X".
  float Evaluate(int32_t mode, float x) {
    Create(mode, x);
    Notify(kX);
    return host.PinFloat(kResult);
  }

  sehost::StandInHost host;
  GuiRecord* record = nullptr;
};

TEST_F(MathGui, ConstructionReadsModeThenXAndWritesNothing) {
  Create(1, 0.5f);
  ExpectCalls(host.Callbacks(), {kReadMode, kReadX});
}

TEST_F(MathGui, ANotificationFromInsideConstructionIsDropped) {
  int callbacks = 0;
  sehost::Subscription hook = host.OnCallback([&](sehost::StandInHost&, const sehost::TraceEntry& call) {
    if (callbacks++ > 0) return;
    // The host answers the read of "Mode" by telling the half that "X" changed.
    GuiRecord* half = static_cast<GuiRecord*>(const_cast<void*>(call.record));
    half->dispatcher(half, GUI_OP_PIN_VALUE_CHANGE, kX, 0, nullptr, 0.0f);
  });
  host.SetPinFloat(kResult, 42.0f);
  Create(0, 0.5f);
  ExpectCalls(host.Callbacks(), {kReadMode, kReadX});
  EXPECT_EQ(callbacks, 2);
  EXPECT_EQ(host.PinFloat(kResult), 42.0f);
  // Constructed, the half evaluates as usual.
  hook.Cancel();
  ExpectCalls(Notify(kX), {kReadX, kReadX, kWriteResult});
  EXPECT_EQ(host.PinFloat(kResult), static_cast<float>(std::cos(0.5)));
}

TEST_F(MathGui, ACloseFromInsideTheResultWriteEndsTheEvaluationFirst) {
  Create(0, 0.0f);
  se_ret_t closed = -1;
  sehost::Subscription hook = host.OnCallback([&](sehost::StandInHost& h, const sehost::TraceEntry& call) {
    if (call.opcode == GUI_HC_SET_PIN_VALUE) closed = h.CloseGui();
  });
  ExpectCalls(Notify(kX), {kReadX, kReadX, kWriteResult});
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(host.gui(), nullptr);
  EXPECT_EQ(host.PinFloat(kResult), 1.0f);
}

TEST_F(MathGui, EachReportedPinMakesTheCallsOfItsRow) {
  Create(0, 0.5f);
  ExpectCalls(Notify(kMode), {kReadMode, kReadX, kWriteResult});
  ExpectCalls(Notify(kX), {kReadX, kReadX, kWriteResult});
  ExpectCalls(Notify(kResult), {kReadX, kWriteResult});
  ExpectCalls(Notify(7), {kReadX, kWriteResult});
  ExpectCalls(Notify(-1), {kReadX, kWriteResult});

  host.SetPinInt(kMode, 9);
  ExpectCalls(Notify(kMode), {kReadMode});
  ExpectCalls(Notify(kX), {kReadX});
  ExpectCalls(Notify(kResult), {});
  ExpectCalls(Notify(7), {});
}

TEST_F(MathGui, TheWriteCarriesTheResultInOptOnly) {
  Create(2, 2.25f);
  const auto calls = Notify(kX);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].value, 0);
  EXPECT_EQ(calls[2].opt_bits, FloatBits(1.5f));
}

TEST_F(MathGui, CosineOfZeroIsOne) { EXPECT_EQ(Evaluate(0, 0.0f), 1.0f); }

TEST_F(MathGui, EachModeWritesTheDoubleResultRoundedToFloat) {
  const float x = 0.7f;
  EXPECT_EQ(Evaluate(0, x), static_cast<float>(std::cos(static_cast<double>(x))));
  EXPECT_EQ(Evaluate(1, x), static_cast<float>(std::sin(static_cast<double>(x))));
  EXPECT_EQ(Evaluate(2, x), static_cast<float>(std::sqrt(static_cast<double>(x))));
  EXPECT_EQ(Evaluate(3, x), static_cast<float>(std::tan(static_cast<double>(x))));
}

// At these inputs cos and sin computed in float give another float than the
// double result rounded once: the module must compute in double.
TEST_F(MathGui, CosineAndSineAreComputedInDouble) {
  struct Case {
    int32_t mode;
    uint32_t x_bits;
    double (*in_double)(double);
    float (*in_float)(float);
  };
  const Case cases[] = {{0, 0x3F000562u, [](double v) { return std::cos(v); }, [](float v) { return std::cos(v); }},
                        {1, 0x3F000019u, [](double v) { return std::sin(v); }, [](float v) { return std::sin(v); }}};
  for (const Case& c : cases) {
    const volatile float x = BitsFloat(c.x_bits);  // computed at run time, by the C library
    const float want = static_cast<float>(c.in_double(x));
    ASSERT_NE(FloatBits(c.in_float(x)), FloatBits(want)) << c.mode;  // the case tells the two apart
    EXPECT_EQ(FloatBits(Evaluate(c.mode, x)), FloatBits(want)) << c.mode;
  }
}

TEST_F(MathGui, SquareRootOfTwoIsTheNearestFloat) { EXPECT_EQ(FloatBits(Evaluate(2, 2.0f)), 0x3FB504F3u); }

TEST_F(MathGui, SquareRootOfMinusOneWritesANaN) {
  EXPECT_TRUE(std::isnan(Evaluate(2, -1.0f)));
  EXPECT_EQ(host.Callbacks().back().opcode, GUI_HC_SET_PIN_VALUE);
}

TEST_F(MathGui, TangentOfTheFloatNearestHalfPiIsALargeNegativeFiniteValue) {
  const float half_pi = static_cast<float>(M_PI / 2);
  const float result = Evaluate(3, half_pi);
  EXPECT_TRUE(std::isfinite(result));
  EXPECT_LT(result, -2.0e7f);
  EXPECT_EQ(result, static_cast<float>(std::tan(static_cast<double>(half_pi))));
}

TEST_F(MathGui, OnlyTheLowSixteenBitsOfModeCount) {
  EXPECT_EQ(Evaluate(65536, 0.0f), 1.0f);  // cos
  EXPECT_EQ(Evaluate(65539, 1.0f), static_cast<float>(std::tan(1.0)));
}

TEST_F(MathGui, ModeOutsideTheListWritesNothing) {
  for (int32_t mode : {-1, 4, 32768, 0x7FFF}) {
    Create(mode, 1.0f);
    host.SetPinFloat(kResult, 42.0f);
    const auto calls = Notify(kX);
    EXPECT_EQ(calls.size(), 1u) << mode;
    EXPECT_EQ(host.PinFloat(kResult), 42.0f) << mode;
  }
}

TEST_F(MathGui, ANotificationFromInsideTheResultWriteChangesNothing) {
  Create(0, 0.0f);
  int nested = 0;
  sehost::Subscription hook = host.OnCallback([&](sehost::StandInHost& h, const sehost::TraceEntry& call) {
    if (call.opcode == GUI_HC_SET_PIN_VALUE && nested == 0) {
      ++nested;
      h.SetPinFloat(kX, 3.0f);
      h.NotifyGui(kX);
    }
  });
  const auto calls = Notify(kX);
  EXPECT_EQ(nested, 1);
  ExpectCalls(calls, {kReadX, kReadX, kWriteResult});  // the nested notification made no call
  EXPECT_EQ(host.PinFloat(kResult), 1.0f);
  // The nested notification did reach the dispatcher, in the middle of the write.
  const auto& trace = host.Trace();
  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(trace[4].entry, sehost::Entry::kDispatcher);
  EXPECT_EQ(trace[4].depth, 2);  // inside the write, inside the first notification
  EXPECT_EQ(trace[4].opcode, GUI_OP_PIN_VALUE_CHANGE);

  // The instance is not left busy: the next notification evaluates again.
  hook.Cancel();
  ExpectCalls(Notify(kX), {kReadX, kReadX, kWriteResult});
  EXPECT_EQ(host.PinFloat(kResult), static_cast<float>(std::cos(3.0)));
}

TEST_F(MathGui, TheResultIsWrittenAgainWhenItIsUnchanged) {
  Create(1, 0.0f);
  ExpectCalls(Notify(kX), {kReadX, kReadX, kWriteResult});
  ExpectCalls(Notify(kX), {kReadX, kReadX, kWriteResult});
}

}  // namespace
