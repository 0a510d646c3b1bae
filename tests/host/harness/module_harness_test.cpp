// The module harness against semhost itself: a render is, bit for bit, what
// `semhost render` writes as a float file for the same input and changes (its
// trace too), an evaluation what `semhost eval` prints, the description what
// `semhost info --json` prints, and each failure carries semhost's message.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "FloatBits.h"
#include "ModuleHarness.h"
#include "TempDir.h"
#include "audio/AudioFile.h"
#include "host/semhost/semhost_support.h"

namespace {

using sehost::HarnessAudio;
using sehost::HarnessError;
using sehost::ModuleHarness;

constexpr int kFrames = 5000;  // past the render's 4096-frame chunks
const char* const kAutomation = R"({ "Gain": { "100": 2.5, "4097": -0.75, "50%": "0.125" } })";

// Three channels (the gain's pair repeats) of seeded noise in [-1, 1).
std::vector<std::vector<float>> Noise() {
  std::vector<std::vector<float>> channels(3, std::vector<float>(kFrames));
  uint32_t state = 12345;
  for (auto& channel : channels) {
    for (float& sample : channel) {
      state = state * 1664525u + 1013904223u;
      sample = static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
    }
  }
  return channels;
}

class Harness : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_dir.ok()); }
  // The gain through `semhost render`, read back; its stdout lines in `lines`.
  semhost::AudioFile SemhostRender(const std::vector<std::vector<float>>& input, int block_size,
                                   std::vector<std::string>* lines) {
    std::vector<float> interleaved;
    for (int f = 0; f < kFrames; ++f) {
      for (const auto& channel : input) interleaved.push_back(channel[static_cast<size_t>(f)]);
    }
    std::string error;
    EXPECT_TRUE(semhost::AudioFile(3, 44100, interleaved).Write(in, semhost::SampleFormat::kFloat, &error)) << error;
    FILE* file = fopen(automation.c_str(), "wb");
    fputs(kAutomation, file);
    fclose(file);
    const SemhostRun run = Semhost({"render", GAIN_PATH, "--in", in, "--out", out, "--set", "Gain=0.5", "--automate",
                                    automation, "--block-size", std::to_string(block_size), "--trace"});
    EXPECT_EQ(run.code, 0) << run.err;
    *lines = run.lines;
    semhost::AudioFile rendered;
    EXPECT_TRUE(rendered.Read(out, &error)) << error;
    return rendered;
  }
  semhost::TempDir m_dir;
  const std::string in = m_dir.File("in.wav"), out = m_dir.File("out.wav"), automation = m_dir.File("auto.json");
};

TEST_F(Harness, RenderIsSemhostRenderBitForBitAndTracesTheSameCalls) {
  const std::vector<std::vector<float>> input = Noise();
  for (int block_size : {1, 37, 4096}) {
    std::vector<std::string> lines;
    const semhost::AudioFile expected = SemhostRender(input, block_size, &lines);
    ModuleHarness harness;
    ASSERT_TRUE(harness.Load(GAIN_PATH)) << harness.error();
    ASSERT_TRUE(harness.OpenAudio(44100, block_size));
    harness.SetTracing(true);
    harness.AddSet("Gain=0.5");
    harness.Automate(kAutomation);
    HarnessAudio rendered;
    ASSERT_TRUE(harness.Render(input, &rendered)) << harness.error();
    ASSERT_EQ(rendered.channels, 3);
    ASSERT_EQ(rendered.frames, expected.frames());
    for (int32_t c = 0; c < 3; ++c) {
      for (int64_t f = 0; f < kFrames; ++f) {
        ASSERT_EQ(setest::FloatBits(rendered.At(c, f)), setest::FloatBits(expected.Sample(f, c)))
            << "block size " << block_size << ", channel " << c << ", frame " << f;
      }
    }
    lines.pop_back();  // "wrote …"
    EXPECT_EQ(harness.trace(), lines) << "block size " << block_size;
  }
}

TEST_F(Harness, EvalAndInfoAreSemhostsTexts) {
  ModuleHarness harness;
  ASSERT_TRUE(harness.Load(SE_MODULE_PATH)) << harness.error();
  std::vector<std::pair<std::string, std::string>> values;
  ASSERT_TRUE(harness.Eval({"Mode=sqrt", "X=2"}, {"Result"}, &values)) << harness.error();
  EXPECT_EQ(values, (std::vector<std::pair<std::string, std::string>>{{"Result", "1.41421354"}}));
  ASSERT_TRUE(harness.Eval({"Mode=tan", "X=nan"}, {"Result", "Mode"}, &values));
  EXPECT_EQ(values, (std::vector<std::pair<std::string, std::string>>{{"Result", "nan"}, {"Mode", "tan (3)"}}));
  const SemhostRun info = Semhost({"info", SE_MODULE_PATH, "--module", "0", "--json"});
  EXPECT_EQ(harness.InfoJson() + "\n", info.out);
  EXPECT_EQ(harness.properties().pins[0].name, "Mode");
  EXPECT_EQ(harness.properties().pins[0].choices[2].text, "sqrt");
  EXPECT_EQ(harness.FindPin("Result")->direction_name, "DR_OUT");
}

TEST_F(Harness, FailuresCarrySemhostsMessages) {
  ModuleHarness harness;
  EXPECT_FALSE(harness.Load(m_dir.File("missing.sem")));
  EXPECT_EQ(harness.error_kind(), HarnessError::kLoad);
  EXPECT_EQ("semhost: " + harness.error() + "\n", Semhost({"info", m_dir.File("missing.sem")}).err);
  EXPECT_FALSE(harness.Load(GAIN_PATH, 4));
  EXPECT_EQ(harness.error_kind(), HarnessError::kModule);
  EXPECT_EQ("semhost: " + harness.error() + "\n", Semhost({"info", GAIN_PATH, "--module", "4"}).err);

  ASSERT_TRUE(harness.Load(GAIN_PATH));
  HarnessAudio rendered;
  harness.Set("Gain", "loud");
  EXPECT_FALSE(harness.Render(Noise(), &rendered));
  EXPECT_EQ(harness.error_kind(), HarnessError::kArgument);
  EXPECT_EQ(harness.error(), "--set Gain=loud: bad number 'loud' for pin Gain: expected a decimal number such as 0.5, -2e3, nan or inf");
  harness.SetAt(kFrames + 1, "Gain", 1.0);
  EXPECT_FALSE(harness.Render(Noise(), &rendered));
  EXPECT_EQ(harness.error(), "frame 5001, pin \"Gain\": time '5001' is frame 5001, past the end (5000 frames)");
  EXPECT_TRUE(harness.Render({}, &rendered, 10)) << harness.error();  // the changes were used up
  EXPECT_FALSE(harness.Render({}, &rendered));
  EXPECT_EQ(harness.error(), "no input file to take the length from: give --frames N or --seconds S");
  ASSERT_TRUE(harness.Load(SE_MODULE_PATH));
  EXPECT_FALSE(harness.Render({std::vector<float>(10)}, &rendered));
  EXPECT_EQ(harness.error(), "the input files give 1 channel(s); the module takes 0 (it has no sample input)");
}

}  // namespace
