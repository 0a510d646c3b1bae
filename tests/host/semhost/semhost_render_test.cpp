// `semhost render` and the validator's audio checks on the audio fixtures
// (tests/host/semhost/fixtures/audio): outputs from the fixtures' arithmetic, bad input
// refused with exit code 2 before any output exists, a crash reported with
// its block and clock, leaving no file behind.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FloatBits.h"
#include "TempDir.h"
#include "audio/AudioFile.h"
#include "semhost_support.h"

namespace {

using semhost::AudioFile;
using setest::FloatBits;

const std::string kFixtures = SE_AUDIO_FIXTURES;
// Longer than the render's read and write chunks (4096 frames), so chunks are read and written
// mid-render at every block size tested.
constexpr int kFrames = 9000;

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.ok());
    // Stereo, 16-bit: a ramp left, its negative right; kFrames frames at 44100 Hz.
    std::vector<float> stereo;
    for (int i = 0; i < kFrames; ++i) {
      stereo.push_back(static_cast<float>(i - 1500) / 32768.0f);
      stereo.push_back(static_cast<float>(1500 - i) / 32768.0f);
    }
    std::string error;
    ASSERT_TRUE(AudioFile(2, 44100, stereo).Write(in, semhost::SampleFormat::kPcm16, &error)) << error;
    ASSERT_TRUE(AudioFile(1, 44100, std::vector<float>(1000, 0.5f)).Write(mono, semhost::SampleFormat::kFloat, &error));
  }
  // Every file in the folder but the inputs and the automation.
  std::vector<std::string> Others() const {
    std::vector<std::string> names;
    DIR* dir = opendir(m_dir.path().c_str());
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != ".." && name != "in.wav" && name != "mono.wav" && name != "auto.json") names.push_back(name);
    }
    closedir(dir);
    return names;
  }
  void WriteText(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
  }
  AudioFile Read(const std::string& path) {
    AudioFile file;
    std::string error;
    EXPECT_TRUE(file.Read(path, &error)) << error;
    return file;
  }

  semhost::TempDir m_dir;
  const std::string in = m_dir.File("in.wav"), mono = m_dir.File("mono.wav"), out = m_dir.File("out.wav");
};

TEST_F(Render, GainFollowsSetAndAutomationToTheFrameForEveryBlockSize) {
  // Gain 0.5 from the start, 3 at frame 1001, inverted from 0.01 s (frame 441).
  WriteText(m_dir.File("auto.json"), R"({"Gain": {"1001": 3}, "Polarity": {"0.01s": "inverted"}})");
  const AudioFile input = Read(in), extra = Read(mono);
  for (const char* block : {"1", "7", "64", "4096"}) {
    const SemhostRun run = Semhost({"render", kFixtures, "--in", in, mono, "--out", out, "--set", "Gain=0.5",
                                    "--automate", m_dir.File("auto.json"), "--block-size", block});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.Last(), "wrote " + out + ": 2 channel(s), " + std::to_string(kFrames) + " frames at 44100 Hz, " +
                              std::to_string((kFrames + std::stoi(block) - 1) / std::stoi(block)) + " block(s) of up to " +
                              block + " frames");
    const AudioFile output = Read(out);
    ASSERT_EQ(output.frames(), kFrames);
    ASSERT_EQ(output.channels(), 2);
    for (int64_t i = 0; i < kFrames; ++i) {
      const float gain = i < 1001 ? 0.5f : 3.0f;
      const float g = i >= 441 ? -gain : gain;
      const float rest = 0.0f + input.Sample(i, 1) + (i < 1000 ? extra.Sample(i, 0) : 0.0f);
      ASSERT_EQ(FloatBits(output.Sample(i, 0)), FloatBits(input.Sample(i, 0) * g)) << "frame " << i << ", block " << block;
      ASSERT_EQ(FloatBits(output.Sample(i, 1)), FloatBits(rest * g)) << "frame " << i << ", block " << block;
    }
  }
  EXPECT_EQ(Others(), std::vector<std::string>{"out.wav"});
}

TEST_F(Render, TheChartHasALanePerChannelOutputOverInputAndAMarkPerAutomationStep) {
  WriteText(m_dir.File("auto.json"), R"({"Gain": {"1001": 3}, "Polarity": {"0.01s": "inverted"}})");
  const std::string svg = m_dir.File("chart.svg");
  const SemhostRun run = Semhost({"render", kFixtures, "--in", in, "--out", out, "--set", "Gain=0.5", "--automate",
                                  m_dir.File("auto.json"), "--svg", svg});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string chart = semhost::ReadFile(svg);
  const auto count = [&chart](const std::string& part) {
    size_t n = 0;
    for (size_t at = chart.find(part); at != std::string::npos; at = chart.find(part, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<g class=\"lane\">"), 2u);
  EXPECT_EQ(count("<g class=\"mark\">"), 2u);  // --set is no step
  EXPECT_EQ(count(">Gain = 3</text>") + count(">Polarity = inverted</text>"), 2u) << chart;
  EXPECT_EQ(count(">in: " + in + " channel 2</text>"), 1u) << chart;
  // In each lane the input is drawn first, so the output is on top.
  const size_t second = chart.find(">channel 2: ");
  ASSERT_NE(second, std::string::npos) << chart;
  EXPECT_LT(chart.find("#b8b8b8", second), chart.find("#1f77b4", second));
}

TEST_F(Render, AGeneratorRendersTheLengthAndRateAsked) {
  const SemhostRun run = Semhost({"--module", "5", "render", kFixtures, "--out", out, "--frames", "1000",
                                  "--sample-rate", "8000", "--set", "Gain=2", "--svg", m_dir.File("ramp.svg")});
  ASSERT_EQ(run.code, 0) << run.err;
  const AudioFile output = Read(out);
  EXPECT_EQ(output.sample_rate(), 8000);
  ASSERT_EQ(output.frames(), 1000);
  for (int64_t i = 0; i < 1000; ++i) ASSERT_EQ(output.Sample(i, 0), static_cast<float>(i) / 65536.0f * 2.0f) << i;
  EXPECT_NE(semhost::ReadFile(m_dir.File("ramp.svg")).find("<polyline"), std::string::npos);
}

TEST_F(Render, TheStreamsStatusAndTheTraceStopAfterItsLimit) {
  SemhostRun run = Semhost({"--trace", "render", kFixtures, "--in", mono, "--out", out, "--frames", "1500"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(run.HasLine("host→audio event time=0 EVT_PIN_STATUS value1=2 value2=0 pin=5")) << run.out;
  EXPECT_TRUE(run.HasLine("host→audio event time=1000 EVT_PIN_STATUS value1=0 value2=0 pin=5")) << run.out;
  run = Semhost({"--trace", "render", kFixtures, "--in", mono, "--out", out, "--trace-lines", "5"});
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_EQ(run.lines.size(), 7u) << run.out;
  EXPECT_EQ(run.lines[5], "… the trace stops after 5 lines (--trace-lines); the render goes on");
}

TEST_F(Render, BadInputIsRefusedWithExitTwoBeforeAnyOutputExists) {
  const std::string r48 = m_dir.File("r48.wav"), text = m_dir.File("text.wav"), json = m_dir.File("auto.json");
  std::string error;
  ASSERT_TRUE(AudioFile(1, 48000, {0.0f}).Write(r48, semhost::SampleFormat::kFloat, &error));
  WriteText(text, "not audio");
  const std::string missing = m_dir.File("missing.wav");
  // The input with its header's sample rate (bytes 24 to 27) cleared.
  const std::string rate0 = m_dir.File("rate0.wav");
  std::string bytes = semhost::ReadFile(in);
  bytes.replace(24, 4, std::string(4, '\0'));
  WriteText(rate0, bytes);
  const struct {
    std::vector<std::string> args;
    std::string automation;  // written to auto.json when not empty
    std::string error;
  } cases[] = {
      {{"--in", missing}, "", "semhost: render: cannot read " + missing + ": No such file or directory"},
      {{"--in", text}, "", "semhost: render: cannot read " + text + " as audio: "},
      {{"--in", in, r48}, "", "semhost: render: the inputs are at different sample rates: " + in + " at 44100 Hz, " + r48 + " at 48000 Hz"},
      {{"--in", in, "--sample-rate", "48000"}, "", "semhost: render: --sample-rate 48000 differs from the inputs' rate, 44100 Hz"},
      {{"--in", in, "--set", "Volume=1"}, "", "semhost: render: --set Volume=1: unknown pin 'Volume'; the pins are: Gain, "},
      {{"--in", in, "--set", "Polarity=sideways"}, "", "semhost: render: --set Polarity=sideways: unknown choice 'sideways' for pin Polarity"},
      {{"--in", in, "--set", "Trim=1"}, "",
       "semhost: render: --set Trim=1: pin \"Trim\" cannot be set by a host: it was declared without a variable"},
      {{"--in", in, "--automate", json}, R"({"Gain": {"9001": 1}})",
       "semhost: render: " + json + ": pin \"Gain\": time '9001' is frame 9001, past the end (9000 frames)"},
      {{"--in", in, "--automate", json}, R"({"Gain": {"10": )", "semhost: render: " + json + ": not valid JSON: "},
      {{"--in", in, "--automate", json}, R"({"Polarity": {"10": "sideways"}})",
       "semhost: render: " + json + ": pin \"Polarity\", time '10': unknown choice 'sideways'"},
      {{}, "", "semhost: render: no input file to take the length from: give --frames N or --seconds S"},
      {{"--frames", "10", "--seconds", "1"}, "", "semhost: --frames excludes --seconds"},
      {{"--in", in, "--block-size", "0"}, "", "semhost: --block-size: Value 0 not in range 1 to 1048576"},
      {{"--in", in, "--format", "pcm8"}, "", "semhost: render: "},
      {{"--seconds", "1.5ss"}, "", "semhost: render: --seconds expects a decimal number of seconds, such as 1.5; got '1.5ss'\n"},
      {{"--in", rate0}, "", "semhost: render: cannot read " + rate0 + " as audio: its header declares no sample rate or no channels\n"},
  };
  for (const auto& c : cases) {
    if (!c.automation.empty()) WriteText(json, c.automation);
    std::vector<std::string> args = {"render", kFixtures, "--out", out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const SemhostRun run = Semhost(args);
    EXPECT_EQ(run.code, 2) << c.error;
    EXPECT_EQ(run.err.substr(0, c.error.size()), c.error) << run.err;
  }
  // No output of any kind was left behind.
  std::vector<std::string> left = Others();
  left.erase(std::remove(left.begin(), left.end(), "r48.wav"), left.end());
  left.erase(std::remove(left.begin(), left.end(), "text.wav"), left.end());
  left.erase(std::remove(left.begin(), left.end(), "rate0.wav"), left.end());
  EXPECT_EQ(left, std::vector<std::string>{});
  // An output its format cannot hold is refused before the render starts.
  const std::string big = m_dir.File("big.aiff");
  EXPECT_EQ(Semhost({"--module", "5", "render", kFixtures, "--frames", "2200000000", "--format", "pcm16", "--out", big}).err,
            "semhost: render: cannot write " + big + ": the format holds at most 4 GiB of samples and this output "
            "would hold 4400000000 bytes; use .wav (written as RF64 past 4 GiB), .w64 or .caf\n");
  // More channels than sample inputs: the generator has none.
  SemhostRun run = Semhost({"--module", "5", "render", kFixtures, "--in", in, "--out", out});
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.err, "semhost: render: the input files give 2 channel(s); the module takes 0 (it has no sample input)\n");
  // A library that cannot be loaded: exit 3.
  run = Semhost({"render", std::string(SE_FIXTURE_DIR) + "/not_a_module.sem", "--in", in, "--out", out});
  EXPECT_EQ(run.code, 3) << run.err;
  run = Semhost({"render", kFixtures, "--in", in, "--out", m_dir.File("out.nope")});
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.err.find("semhost: render: cannot write " + m_dir.File("out.nope") + ": no audio file format"), 0u) << run.err;
}

TEST_F(Render, InputsThatAreNotRegularFilesAreRefusedSupervisedOrInProcess) {
  const std::string fifo = m_dir.File("fifo.wav"), folder = m_dir.path();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // opened for reading, it would block
  const std::string not_regular = ": it is not a regular file (a FIFO or a device, say)\n";
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--in", folder}, "cannot read " + folder + " (--in): it is a folder\n"},
      {{"--in", fifo}, "cannot read " + fifo + " (--in)" + not_regular},
      {{"--in", "/dev/null"}, "cannot read /dev/null (--in)" + not_regular},
      {{"--in", in, "--automate", folder}, "cannot read " + folder + " (--automate): it is a folder\n"},
      {{"--in", in, "--automate", fifo}, "cannot read " + fifo + " (--automate)" + not_regular},
  };
  for (const auto& c : cases) {
    for (const char* where : {"--in-process", "--timeout-ms=60000"}) {
      std::vector<std::string> args = {"render", where, kFixtures, "--out", out};
      args.insert(args.end(), c.args.begin(), c.args.end());
      const SemhostRun run = Semhost(args, 10000);
      EXPECT_EQ(run.code, 2) << where << " " << c.error;
      EXPECT_EQ(run.err, "semhost: render: " + c.error) << where;
    }
  }
}

TEST_F(Render, ACutShortInputIsRenderedWithAWarningGivingTheFramesRead) {
  const std::string bytes = semhost::ReadFile(in);
  const std::string cut = m_dir.File("cut.wav");
  WriteText(cut, bytes.substr(0, bytes.size() - 4 * 8000));  // 1000 of the 9000 stereo 16-bit frames
  const SemhostRun run = Semhost({"render", kFixtures, "--in", cut, "--out", out});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "semhost: render: warning: " + cut + " declares 9000 frames but holds 1000 (cut short?); the 1000 "
                     "frames read are used\n");
  EXPECT_EQ(Read(out).frames(), 1000);
  // A length in seconds may carry its unit.
  EXPECT_EQ(Semhost({"--module", "5", "render", kFixtures, "--seconds", "0.01s", "--out", out}).Last(),
            "wrote " + out + ": 1 channel(s), 480 frames at 48000 Hz, 1 block(s) of up to 512 frames");
}

TEST_F(Render, ACrashNamesBlockClockAndCallAndLeavesTheTargetAsItWas) {
  WriteText(out, "the old output");
  const SemhostRun run = Semhost({"--module", "1", "render", kFixtures, "--in", in, "--out", out, "--block-size", "256"});
  EXPECT_EQ(run.code, 1);
  // The run that reaches clock 700 starts at 512, the third block. A
  // sanitizer stops the null write first, with a report of its own.
  const std::string where = " while rendering, block 2, clock 512; in host→audio process offset=0 frames=256"
                            "; no output was written\n";
  EXPECT_EQ(run.err.find("semhost: render: the run ended with "), run.err.rfind('\n', run.err.size() - 2) + 1) << run.err;
  EXPECT_NE(run.err.find(where), std::string::npos) << run.err;
  EXPECT_EQ(semhost::ReadFile(out), "the old output");
  EXPECT_EQ(Others(), std::vector<std::string>{"out.wav"});
}

TEST(ValidateAudio, AnAudioOnlyModulePassesAndEachFaultFailsItsCheck) {
  SemhostRun run = Semhost({"validate", kFixtures, "--instances", "200", "--steps", "500"});
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_NE(run.LineStartingWith("SKIPPED  gui.determinism").find("the module makes no GUI half"), std::string::npos) << run.out;
  EXPECT_EQ(run.LineStartingWith("PASS     audio.block-size-invariance").empty(), false) << run.out;
  EXPECT_EQ(run.LineStartingWith("PASS     audio.finite-output").empty(), false) << run.out;
  const struct {
    const char* module;
    const char* check;
    std::string message;
  } faults[] = {
      {"2", "audio.no-allocation", "allocation(s) in "},
      {"3", "audio.finite-output", "\"Out 1\" is nan at frame 100 though every input sample is finite and the controls keep their first values"},
      // The first run is cut where the seeded changes fall: its length depends on the seed.
      {"4", "audio.block-size-invariance", " with block size 16 at 44100 Hz but 1 with block size 1"},
  };
  for (const auto& f : faults) {
    run = Semhost({"--module", f.module, "validate", kFixtures, "--only", f.check});
    const std::string line = run.LineStartingWith(std::string("FAIL     ") + f.check);
    EXPECT_EQ(run.code, 1) << run.out;
    EXPECT_NE(line.find(f.message), std::string::npos) << run.out;
  }
}

}  // namespace
