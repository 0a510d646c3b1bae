// The example modules, loaded by path as a host loads them and rendered
// through the stand-in host. Every expectation is arithmetic on the input,
// and every render runs at block sizes 1, 7, 64 and 4096: equal to the same
// arithmetic at each, the outputs are also equal to one another.

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <utility>
#include <vector>

#include "ExampleRun.h"
#include "FloatBits.h"

namespace {

using setest::ExampleRun;
using setest::FloatBits;

constexpr int32_t kBlockSizes[] = {1, 7, 64, 4096};

// Compares bit for bit and names the first frame that differs.
void ExpectBits(const std::vector<float>& expected, const std::vector<float>& actual, const std::string& what) {
  ASSERT_EQ(expected.size(), actual.size()) << what;
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(FloatBits(expected[i]), FloatBits(actual[i]))
        << what << ", frame " << i << ": expected " << expected[i] << ", got " << actual[i];
  }
}

// ---- gain ----

// Gain's pins: 0 "Gain", then per channel c the input 1 + 2c and the output 2 + 2c.
TEST(GainExample, RampTimesGainBitForBitWithAStepBetweenBlockBoundaries) {
  constexpr uint32_t kLength = 900, kFrames = 1000, kStep = 333;  // 333 = 7·47 + 4 = 64·5 + 13
  std::vector<float> ramp[2];
  for (uint32_t i = 0; i < kLength; ++i) {
    ramp[0].push_back(static_cast<float>(i) / 512.0f - 0.7f);
    ramp[1].push_back(0.3f - static_cast<float>(i) / 1000.0f);
  }
  for (int32_t block : kBlockSizes) {
    ExampleRun run(GAIN_PATH, 5, block, 48000.0f);
    run.Feed(1, ramp[0]);
    run.Feed(3, ramp[1]);
    run.Set(0, 0, 0.5f);
    run.Set(kStep, 0, -1.75f);
    run.Open();
    const auto out = run.Render(kFrames, {2, 4});
    for (int c = 0; c < 2; ++c) {
      std::vector<float> expected;
      for (uint32_t i = 0; i < kFrames; ++i) {
        // Past the input's end the module has switched to silence: +0.
        expected.push_back(i < kLength ? ramp[c][i] * (i < kStep ? 0.5f : -1.75f) : 0.0f);
      }
      ExpectBits(expected, out[static_cast<size_t>(c)],
                 "block size " + std::to_string(block) + ", channel " + std::to_string(c));
    }
  }
}

TEST(GainExample, SilenceWhenEveryInputStopsEachSwitchAnnouncedOnce) {
  // Channel 0 stops at 200, channel 1 at 400: silence from 400, written for
  // one block, then idle; channel 1 streams again at 700.
  ExampleRun run(GAIN_PATH, 5, 64, 48000.0f);
  std::vector<float> in(1000, 0.25f);
  run.Feed(1, std::vector<float>(200, 0.5f));
  run.Feed(3, in);
  run.Status(400, 3, 0);
  run.Status(700, 3, 2);
  run.Set(0, 0, 2.0f);
  std::vector<std::pair<uint32_t, SEProcessEntry>> switches;  // clock, then the entry now in the record
  auto seen = run.host().OnReturn([&](const sehost::TraceEntry& e) {
    if (e.IsCallback() && e.opcode == HC_PROCESS_FUNCTION_CHANGED) {
      switches.emplace_back(run.host().schedule().sample_clock(), run.host().audio()->process_function);
    }
  });
  run.Open();
  const auto out = run.Render(1000, {2, 4});

  ASSERT_EQ(switches.size(), 4u);
  const uint32_t clocks[] = {0, 400, 448, 700};  // 448: the run after [400, 448) ends one block of silence
  for (size_t k = 0; k < 4; ++k) EXPECT_EQ(switches[k].first, clocks[k]) << "switch " << k;
  EXPECT_NE(switches[0].second, switches[1].second);
  EXPECT_NE(switches[1].second, switches[2].second);
  EXPECT_NE(switches[2].second, switches[0].second);
  EXPECT_EQ(switches[3].second, switches[0].second);  // back to processing
  for (uint32_t i = 0; i < 1000; ++i) {
    ASSERT_EQ(FloatBits(out[0][i]), FloatBits(i < 200 ? 1.0f : 0.0f)) << i;
    ASSERT_EQ(FloatBits(out[1][i]), FloatBits(i < 400 || i >= 700 ? 0.5f : 0.0f)) << i;
  }
}

// ---- pulse ----

// Pulse k at t0 + floor(k·sampleRate/rate), t0 the clock of the last change of "Rate".
std::vector<float> Pulses(uint32_t frames, const std::vector<std::pair<uint32_t, double>>& rates, double sample_rate) {
  std::vector<float> out(frames, 0.0f);
  for (size_t r = 0; r < rates.size(); ++r) {
    const uint32_t start = rates[r].first;
    const uint32_t end = r + 1 < rates.size() ? rates[r + 1].first : frames;
    for (uint64_t k = 0;; ++k) {
      const double frame = start + floor(static_cast<double>(k) * sample_rate / rates[r].second);
      if (frame >= end) break;
      out[static_cast<size_t>(frame)] = 1.0f;
    }
  }
  return out;
}

TEST(PulseExample, PulsesOnTheExactFramesForEachRateAndSampleRate) {
  struct Case {
    float sample_rate;
    std::vector<std::pair<uint32_t, double>> rates;  // from frame, pulses per second
    uint32_t frames;
  };
  const Case cases[] = {
      {48000.0f, {{0, 1000.0}}, 5000},
      {44100.0f, {{0, 440.0}}, 5000},
      {44100.0f, {{0, 3.0}}, 50000},
      {96000.0f, {{0, 7.5}, {30011, 1234.5}}, 40000},
      {48000.0f, {{0, 480.0}, {1234, 1000.0}, {2000, 48000.0}, {2010, 300.0}}, 3000},
  };
  for (const Case& c : cases) {
    const std::vector<float> expected = Pulses(c.frames, c.rates, c.sample_rate);
    for (int32_t block : kBlockSizes) {
      ExampleRun run(PULSE_PATH, 2, block, c.sample_rate);
      for (const auto& [frame, rate] : c.rates) run.Set(frame, 0, static_cast<float>(rate));
      run.Open();
      ExpectBits(expected, run.Render(c.frames, {1})[0],
                 "rate " + std::to_string(c.rates[0].second) + " at " + std::to_string(c.sample_rate) +
                     ", block size " + std::to_string(block));
    }
  }
}

TEST(PulseExample, EachPulseAnnouncedStreamingThenSilent) {
  ExampleRun run(PULSE_PATH, 2, 64, 48000.0f);
  run.Set(0, 0, 4800.0f);  // every 10 frames
  std::vector<std::pair<int32_t, uintptr_t>> statuses;  // status, clock
  auto seen = run.host().OnReturn([&](const sehost::TraceEntry& e) {
    if (e.IsCallback() && e.opcode == HC_PIN_STATUS) {
      EXPECT_EQ(e.index, 1);
      statuses.emplace_back(e.value, reinterpret_cast<uintptr_t>(e.ptr));
    }
  });
  run.Open();
  run.Render(35, {1});
  const std::vector<std::pair<int32_t, uintptr_t>> expected = {{2, 0},  {0, 1},  {2, 10}, {0, 11},
                                                               {2, 20}, {0, 21}, {2, 30}, {0, 31}};
  EXPECT_EQ(statuses, expected);
}

// ---- waveshaper ----

// Waveshaper's audio pins: 0 "Mode", 1 "Input", 2 "Output"; declared pin 3 "Preview" is the GUI's.
TEST(WaveshaperExample, EveryModeIsTheCLibraryFunctionBitForBit) {
  std::vector<float> in;
  for (int i = -300; i < 300; ++i) in.push_back(static_cast<float>(i) / 128.0f);
  const float specials[] = {0.0f, -0.0f, 1e-30f, -1e-30f, 1.5707964f, 3.4e38f, INFINITY, -INFINITY, NAN};
  in.insert(in.end(), std::begin(specials), std::end(specials));
  const std::vector<std::pair<uint32_t, int32_t>> modes = {{0, 0}, {101, 1}, {250, 2}, {333, 3}, {555, 7}};
  typedef double (*Function)(double);
  const Function functions[] = {&cos, &sin, &sqrt, &tan};
  const uint32_t frames = static_cast<uint32_t>(in.size()) * 2;  // the input played twice
  std::vector<float> input = in;
  input.insert(input.end(), in.begin(), in.end());

  std::vector<float> expected;
  size_t m = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    while (m + 1 < modes.size() && modes[m + 1].first <= i) ++m;
    const int32_t mode = modes[m].second;
    expected.push_back(mode < 4 ? static_cast<float>(functions[mode](input[i])) : 0.0f);
  }
  for (int32_t block : kBlockSizes) {
    ExampleRun run(WAVESHAPER_PATH, 3, block, 44100.0f);
    run.Feed(1, input);
    for (const auto& [frame, mode] : modes) run.SetInt(frame, 0, mode);
    run.Open();
    ExpectBits(expected, run.Render(frames, {2})[0], "block size " + std::to_string(block));
  }
  // Every mode over the whole input, the specials at the end included.
  for (int32_t mode = 0; mode < 4; ++mode) {
    ExampleRun run(WAVESHAPER_PATH, 3, 64, 44100.0f);
    run.Feed(1, in);
    run.SetInt(0, 0, mode);
    run.Open();
    std::vector<float> shaped;
    for (float x : in) shaped.push_back(static_cast<float>(functions[mode](x)));
    ExpectBits(shaped, run.Render(static_cast<uint32_t>(in.size()), {2})[0], "mode " + std::to_string(mode));
  }
}

TEST(WaveshaperExample, GuiHalfSeesModeAndPreviewsTheFunctionAtOneHalf) {
  sehost::ModuleLibrary library(WAVESHAPER_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  sehost::StandInHost host;
  ASSERT_NE(host.CreateGui(library.makeModule()), nullptr);
  const double previews[] = {cos(0.5), sin(0.5), sqrt(0.5), tan(0.5)};
  for (int32_t mode = 0; mode < 4; ++mode) {
    host.SetPinInt(0, mode);
    host.NotifyGui(0);
    EXPECT_EQ(FloatBits(host.PinFloat(3)), FloatBits(static_cast<float>(previews[mode]))) << mode;
  }
  host.SetPinFloat(3, -1.0f);
  host.SetPinInt(0, 9);  // outside the list: nothing written
  host.NotifyGui(0);
  EXPECT_EQ(host.PinFloat(3), -1.0f);
  host.CloseGui();
}

TEST(GainExample, AudioOnlyModuleMakesNoGuiHalf) {
  for (const char* path : {GAIN_PATH, PULSE_PATH}) {
    sehost::ModuleLibrary library(path);
    ASSERT_TRUE(library.ok()) << library.error();
    EXPECT_EQ(library.makeModule()(0, MT_GUI, &sehost::StandInHost::seaudioMaster, 0), nullptr) << path;
  }
}

}  // namespace
