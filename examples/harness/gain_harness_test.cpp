// The Gain example tested in process: its pins as declared, and every output
// sample equal to its input times the gain in force at its frame, exactly
// (the module multiplies in float, as the test does).

#include <gtest/gtest.h>

#include <vector>

#include "ModuleHarness.h"

namespace {

// A stereo input of distinct samples, each exact in float: (f + 1) / 256 on
// the left, -(f + 1) / 128 on the right.
std::vector<std::vector<float>> StereoRamp(int frames) {
  std::vector<std::vector<float>> input(2, std::vector<float>(static_cast<size_t>(frames)));
  for (int f = 0; f < frames; ++f) {
    input[0][static_cast<size_t>(f)] = static_cast<float>(f + 1) / 256.0f;
    input[1][static_cast<size_t>(f)] = -static_cast<float>(f + 1) / 128.0f;
  }
  return input;
}

class GainHarness : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(harness.Load(GAIN_MODULE)) << harness.error(); }
  sehost::ModuleHarness harness;
};

TEST_F(GainHarness, DeclaresGainThenOneInputOutputPair) {
  const sehost::HarnessProperties& module = harness.properties();
  EXPECT_EQ(module.name, "Gain");
  ASSERT_EQ(module.pins.size(), 3u);
  EXPECT_EQ(module.pins[0].name, "Gain");
  EXPECT_EQ(module.pins[0].direction_name, "DR_IN");
  EXPECT_EQ(module.pins[0].datatype_name, "DT_FLOAT");
  EXPECT_EQ(module.pins[1].name, "Input");
  EXPECT_EQ(module.pins[2].name, "Output");
  EXPECT_EQ(module.pins[2].direction_name, "DR_OUT");
  EXPECT_EQ(module.pins[2].flag_names, std::vector<std::string>{"IO_REPEATING"});
}

// 0.5 from the start, 3 from frame 100 on: inside the second 64-frame block.
TEST_F(GainHarness, OutputIsInputTimesGainChangedAtAnExactFrame) {
  const std::vector<std::vector<float>> input = StereoRamp(200);
  ASSERT_TRUE(harness.OpenAudio(48000, 64)) << harness.error();
  harness.Set("Gain", 0.5);
  harness.SetAt(100, "Gain", 3.0);
  sehost::HarnessAudio out;
  ASSERT_TRUE(harness.Render(input, &out)) << harness.error();
  ASSERT_EQ(out.channels, 2);
  ASSERT_EQ(out.frames, 200);
  for (int32_t c = 0; c < 2; ++c) {
    for (int64_t f = 0; f < 200; ++f) {
      const float gain = f < 100 ? 0.5f : 3.0f;
      ASSERT_EQ(out.At(c, f), input[static_cast<size_t>(c)][static_cast<size_t>(f)] * gain) << "channel " << c << " frame " << f;
    }
  }
  EXPECT_EQ(out.At(0, 99), 0.1953125f);   // 100 / 256 × 0.5
  EXPECT_EQ(out.At(0, 100), 1.18359375f);  // 101 / 256 × 3
  EXPECT_EQ(out.At(1, 100), -2.3671875f);  // -101 / 128 × 3
}

TEST_F(GainHarness, UnknownPinIsRefusedWithSemhostsMessage) {
  harness.Set("Volume", 2.0);
  sehost::HarnessAudio out;
  EXPECT_FALSE(harness.Render(StereoRamp(10), &out));
  EXPECT_EQ(harness.error_kind(), sehost::HarnessError::kArgument);
  EXPECT_EQ(harness.error(), "--set Volume=2: unknown pin 'Volume'; the pins are: Gain, Input, Output (or their indices 0 to 2)");
}

}  // namespace
