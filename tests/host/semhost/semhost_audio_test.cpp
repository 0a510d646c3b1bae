// semhost's audio side: the automation's times and documents, and (with
// audio file support) the all-or-nothing writer and `semhost diff` on small
// files written here with libsndfile.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Automation.h"
#include "TempDir.h"

#if defined(SEMHOST_AUDIO_FILES)
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AudioDiff.h"
#include "AudioFile.h"
#include "AudioWriter.h"
#include "semhost_support.h"
#endif

namespace {

using semhost::Automation;
using semhost::AutomationStep;

// The frame of `time` at `rate` in a length of `total` frames, or -1 with the message in `error`.
int64_t FrameOf(const std::string& time, int32_t rate = 44100, int64_t total = 88200, std::string* error = nullptr) {
  int64_t frame = -1;
  std::string why;
  if (!Automation::ParseTime(time, rate, total, &frame, &why)) frame = -1;
  if (error) *error = why;
  return frame;
}

TEST(AutomationTime, FramesSecondsAndSharesLandOnExactFrames) {
  EXPECT_EQ(FrameOf("22050"), 22050);
  EXPECT_EQ(FrameOf("0"), 0);
  EXPECT_EQ(FrameOf("1.5s"), 66150);
  EXPECT_EQ(FrameOf("0.3s"), 13230);  // in doubles 0.3 × 44100 is 13229.999999999998
  EXPECT_EQ(FrameOf("2s"), 88200);    // the end itself
  EXPECT_EQ(FrameOf("50%"), 44100);
  EXPECT_EQ(FrameOf("100%"), 88200);
  EXPECT_EQ(FrameOf("0.000001%"), 0);
  EXPECT_EQ(FrameOf("33.333333%"), 29400);  // 29399.99997
  // Exact on lengths where a double no longer is.
  EXPECT_EQ(FrameOf("33.333333%", 48000, 1000000000000000), 333333330000000);
  EXPECT_EQ(FrameOf("1000000000.000000011s", 48000, 1000000000000000), 48000000000000);
}

TEST(AutomationTime, BetweenTwoFramesTheNearestWinsAndAHalfGoesToTheLater) {
  // At 4 Hz a frame is 0.25 s; 5% of 10 frames is half a frame.
  EXPECT_EQ(FrameOf("0.1s", 4, 10), 0);
  EXPECT_EQ(FrameOf("0.125s", 4, 10), 1);
  EXPECT_EQ(FrameOf("0.15s", 4, 10), 1);
  EXPECT_EQ(FrameOf("0.375s", 4, 10), 2);
  EXPECT_EQ(FrameOf("4.9%", 4, 10), 0);
  EXPECT_EQ(FrameOf("5%", 4, 10), 1);
  EXPECT_EQ(FrameOf("25%", 4, 10), 3);
}

TEST(AutomationTime, MalformedOrLateTimesAreRefusedSayingWhy) {
  for (const char* bad : {"", "-1", "+1", "1.5", "1e3", "0x10", "1.5 s", " 1s", "s", "%", ".5s", "5.s", "1S", "12s%"}) {
    std::string error;
    EXPECT_EQ(FrameOf(bad, 44100, 88200, &error), -1) << bad;
    EXPECT_EQ(error.find("time '" + std::string(bad) + "' is not a frame number (22050), seconds (1.5s) or a share"), 0u)
        << error;
  }
  std::string error;
  EXPECT_EQ(FrameOf("1.0000000001s", 44100, 88200, &error), -1);
  EXPECT_NE(error.find("at most 9 decimals"), std::string::npos) << error;
  EXPECT_EQ(FrameOf("1.0000001%", 44100, 88200, &error), -1);
  EXPECT_NE(error.find("at most 6 decimals"), std::string::npos) << error;
  EXPECT_EQ(FrameOf("88201", 44100, 88200, &error), -1);
  EXPECT_EQ(error, "time '88201' is frame 88201, past the end (88200 frames)");
  EXPECT_EQ(FrameOf("2.0000113s", 44100, 88200, &error), 88200);  // 0.498 of a frame after the end: still the end
  EXPECT_EQ(FrameOf("2.0000114s", 44100, 88200, &error), -1);  // 0.503: the frame after it
  EXPECT_EQ(error, "time '2.0000114s' is frame 88201, past the end (88200 frames)");
  EXPECT_EQ(FrameOf("100.000001%", 44100, 88200, &error), -1);
  EXPECT_EQ(error, "time '100.000001%' is past the end: a share is at most 100%");
  EXPECT_EQ(FrameOf("999999999999999999s", 48000, 88200, &error), -1);
  EXPECT_EQ(error, "time '999999999999999999s' is past the end (88200 frames)");
  EXPECT_EQ(FrameOf("1s", 0, 88200, &error), -1);
  EXPECT_EQ(error, "time '1s' in seconds needs a sample rate");
}

TEST(Automation, StepsComeSortedByFrameWithTheFileOrderAtEqualFrames) {
  Automation automation;
  std::string error;
  ASSERT_TRUE(automation.Parse(R"({ "Gain": { "1.5s": 0.5, "0": 1, "25%": -2.5e-1 },
                                    "Mode": { "22050": "tan", "0": "cos" } })",
                               "a.json", 44100, 88200, &error))
      << error;
  const std::vector<AutomationStep>& steps = automation.steps();
  ASSERT_EQ(steps.size(), 5u);
  const struct {
    const char* pin;
    int64_t frame;
    bool is_number;
    double number;
    const char* text;
  } expected[] = {{"Gain", 0, true, 1.0, "1"},
                  {"Mode", 0, false, 0.0, "cos"},
                  {"Gain", 22050, true, -0.25, "-0.25"},
                  {"Mode", 22050, false, 0.0, "tan"},
                  {"Gain", 66150, true, 0.5, "0.5"}};
  for (size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].pin, expected[i].pin) << i;
    EXPECT_EQ(steps[i].frame, expected[i].frame) << i;
    EXPECT_EQ(steps[i].is_number, expected[i].is_number) << i;
    EXPECT_EQ(steps[i].number, expected[i].number) << i;
    EXPECT_EQ(steps[i].text, expected[i].text) << i;
  }
}

TEST(Automation, BadDocumentsAreRefusedNamingTheFileAndTheEntry) {
  const struct {
    const char* json;
    const char* error;
  } cases[] = {
      {R"({ "Gain": { "0": 1 })", "a.json: not valid JSON: parse error at line 1, column 21"},
      {R"([1, 2])", "a.json: expected an object { \"PIN\": { \"TIME\": VALUE, … }, … }"},
      {R"({ "Gain": 1 })", "a.json: pin \"Gain\": expected an object of \"TIME\": VALUE entries, got 1"},
      {R"({ "Gain": { "0": true } })",
       "a.json: pin \"Gain\", time '0': the value must be a number or a choice's text, got true"},
      {R"({ "Gain": { "0": [0.5] } })",
       "a.json: pin \"Gain\", time '0': the value must be a number or a choice's text, got [0.5]"},
      {R"({ "Gain": { "0": 1, "0": 2 } })", "a.json: \"0\" appears twice in one object"},
      {R"({ "Gain": { "0": 1 }, "Gain": { "1s": 2 } })", "a.json: \"Gain\" appears twice in one object"},
      {R"({ "Gain": { "1s": 1, "44100": 2 } })", "a.json: pin \"Gain\": times '1s' and '44100' are the same frame 44100"},
      {R"({ "Gain": { "3s": 1 } })", "a.json: pin \"Gain\": time '3s' is frame 132300, past the end (88200 frames)"},
  };
  for (const auto& c : cases) {
    Automation automation;
    std::string error;
    EXPECT_FALSE(automation.Parse(c.json, "a.json", 44100, 88200, &error)) << c.json;
    EXPECT_EQ(error.substr(0, std::string(c.error).size()), c.error) << c.json;
  }
  // Nesting of any depth is refused at its 65th level, without recursion.
  for (const char open : {'[', '{'}) {
    std::string deep;
    for (int i = 0; i < 70000; ++i) deep += open == '[' ? "[" : "{\"a\":";
    Automation automation;
    std::string error;
    EXPECT_FALSE(automation.Parse(deep, "a.json", 44100, 88200, &error));
    EXPECT_EQ(error, std::string("a.json: nested deeper than 64 levels at byte ") + (open == '[' ? "65" : "321"));
  }
  Automation automation;
  std::string error;
  EXPECT_FALSE(automation.Read("/nonexistent/automation.json", 44100, 88200, &error));
  EXPECT_EQ(error, "cannot read /nonexistent/automation.json: No such file or directory");
  semhost::TempDir dir;
  const std::string empty = dir.File("empty.json");
  fclose(fopen(empty.c_str(), "w"));
  EXPECT_FALSE(automation.Read(empty, 44100, 88200, &error));
  EXPECT_EQ(error, empty + ": the file is empty; expected { \"PIN\": { \"TIME\": VALUE, … }, … }");
  EXPECT_FALSE(automation.Read(dir.path(), 44100, 88200, &error));
  EXPECT_EQ(error, "cannot read " + dir.path() + ": it is a folder");
}

#if defined(SEMHOST_AUDIO_FILES)

using semhost::AudioFile;
using semhost::AudioWriter;
using semhost::SampleFormat;

// Writes a 32-bit float WAV file with libsndfile alone.
void WriteWav(const std::string& path, int channels, int rate, const std::vector<float>& interleaved) {
  SF_INFO info = {};
  info.channels = channels;
  info.samplerate = rate;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  ASSERT_EQ(sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size()) / channels),
            static_cast<sf_count_t>(interleaved.size()) / channels);
  sf_close(file);
}

class AudioFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.ok());
    // Two channels, four frames; B differs from A by 2^-10 in frame 2, channel 2.
    a = m_dir.File("a.wav");
    b = m_dir.File("b.wav");
    WriteWav(a, 2, 48000, {0.0f, 0.25f, 0.5f, -0.5f, 1.0f, -1.0f, 0.125f, 0.0f});
    WriteWav(b, 2, 48000, {0.0f, 0.25f, 0.5f, -0.5f, 1.0f, -0.9990234375f, 0.125f, 0.0f});
  }
  semhost::TempDir m_dir;
  std::string a, b;
};

TEST_F(AudioFiles, DiffOfEqualFilesIsSilentAndExitsZero) {
  const SemhostRun run = Semhost({"diff", a, a});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out,
            "frames: 4\nchannels: 2\nsample rate: 48000\npeak difference: 0 (-inf dBFS)\n"
            "rms difference: -inf dBFS\nfirst difference: none\nsame (bit-exact)\n");
}

TEST_F(AudioFiles, DiffGivesPeakRmsAndFirstDifferenceAndTheToleranceDecides) {
  // One of eight samples off by 2^-10: peak 20·log10(2^-10) = -60.21 dB,
  // RMS sqrt(2^-20 / 8) = 2^-11.5, -69.24 dB.
  SemhostRun run = Semhost({"diff", a, b});
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_TRUE(run.HasLine("peak difference: 0.0009765625 (-60.21 dBFS)")) << run.out;
  EXPECT_TRUE(run.HasLine("rms difference: -69.24 dBFS")) << run.out;
  EXPECT_TRUE(run.HasLine("first difference: frame 2, channel 2 (-1 in A, -0.999023438 in B)")) << run.out;
  EXPECT_EQ(run.Last(), "different (bit-exact)");
  // 10^(-60/20) = 0.001 allows 2^-10 = 0.000977; 10^(-61/20) = 0.000891 does not.
  run = Semhost({"diff", a, b, "--tolerance", "-60"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(run.HasLine("first difference: none")) << run.out;
  EXPECT_EQ(run.Last(), "same (tolerance -60 dBFS)");
  run = Semhost({"diff", a, b, "--tolerance", "-61"});
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_EQ(run.Last(), "different (tolerance -61 dBFS)");
}

TEST_F(AudioFiles, FilesOfDifferentLengthsDifferEvenWhereTheTailIsSilent) {
  const std::string longer = m_dir.File("longer.wav");
  WriteWav(longer, 2, 48000, {0.0f, 0.25f, 0.5f, -0.5f, 1.0f, -1.0f, 0.125f, 0.0f, 0.0f, 0.0f});
  const SemhostRun run = Semhost({"diff", a, longer, "--tolerance", "-20"});
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_TRUE(run.HasLine("frames: 4 in A, 5 in B")) << run.out;
  EXPECT_TRUE(run.HasLine("peak difference: 0 (-inf dBFS)")) << run.out;
  EXPECT_TRUE(run.HasLine("first difference: frame 4 (A ends)")) << run.out;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST_F(AudioFiles, DiffWritesTheResidualAndTheChartButNeverOverAnInput) {
  const std::string residual = m_dir.File("r.wav"), svg = m_dir.File("d.svg"), longer = m_dir.File("longer.wav");
  SemhostRun run = Semhost({"diff", a, b, "--residual", residual, "--svg", svg});
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_TRUE(run.HasLine("wrote " + residual + ": A - B, 2 channel(s), 4 frames at 48000 Hz")) << run.out;
  semhost::AudioFile r;
  std::string error;
  ASSERT_TRUE(r.Read(residual, &error)) << error;
  EXPECT_EQ(r.interleaved(), (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, -0.0009765625f, 0.0f, 0.0f}));
  const std::string chart = semhost::ReadFile(svg);
  EXPECT_EQ(Count(chart, "<g class=\"lane\">"), 2u);
  EXPECT_EQ(Count(chart, ">channel 1</text>") + Count(chart, ">channel 2</text>"), 2u);
  EXPECT_EQ(Count(chart, ">A - B</text>"), 2u);  // each lane's legend
  // Different lengths: the frames both have, said so.
  WriteWav(longer, 2, 48000, {0.5f, 0.25f, 0.5f, -0.5f, 1.0f, -1.0f, 0.125f, 0.0f, 0.75f, 0.0f});
  run = Semhost({"diff", longer, a, "--residual", residual});
  EXPECT_TRUE(run.HasLine("wrote " + residual + ": A - B, 2 channel(s), 4 frames at 48000 Hz (the frames both have: A has 5, B 4)"))
      << run.out;
  ASSERT_TRUE(r.Read(residual, &error)) << error;
  EXPECT_EQ(r.interleaved(), (std::vector<float>{0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f}));
  // An input as the residual, or files that cannot be compared: exit 2, nothing written.
  const std::string before = semhost::ReadFile(a), mono = m_dir.File("mono.wav"), none = m_dir.File("none.wav");
  WriteWav(mono, 1, 48000, {0.0f});
  run = Semhost({"diff", a, b, "--residual", a});
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.err, "semhost: diff: the output " + a + " (--residual) is the input " + a +
                         " (A): semhost never writes over a file it reads\n");
  EXPECT_EQ(semhost::ReadFile(a), before);
  run = Semhost({"diff", a, mono, "--residual", none});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(access(none.c_str(), F_OK), 0);
}

TEST_F(AudioFiles, DiffRefusesFilesItCannotCompareWithExitTwo) {
  const std::string mono = m_dir.File("mono.wav"), slow = m_dir.File("slow.wav"), text = m_dir.File("text.wav");
  WriteWav(mono, 1, 48000, {0.0f, 0.5f});
  WriteWav(slow, 2, 44100, {0.0f, 0.5f});
  FILE* file = fopen(text.c_str(), "w");
  fputs("not audio\n", file);
  fclose(file);
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"diff", a, mono}, "semhost: diff: different channel counts: " + a + " has 2, " + mono + " has 1\n"},
      {{"diff", a, slow}, "semhost: diff: different sample rates: " + a + " is at 48000 Hz, " + slow + " at 44100 Hz\n"},
      {{"diff", a, m_dir.File("missing.wav")},
       "semhost: diff: cannot read " + m_dir.File("missing.wav") + ": No such file or directory\n"},
      {{"diff", text, a}, "semhost: diff: cannot read " + text + " as audio: "},
      {{"diff", a, b, "--tolerance", "6"}, "semhost: diff: --tolerance expects decibels relative to full scale"},
      {{"diff", a, b, "--tolerance", "loud"}, "semhost: diff: --tolerance expects decibels relative to full scale"},
  };
  for (const auto& c : cases) {
    const SemhostRun run = Semhost(c.args);
    EXPECT_EQ(run.code, 2) << c.error;
    EXPECT_EQ(run.err.substr(0, c.error.size()), c.error);
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(AudioFiles, OnlyRegularFilesAreRead) {
  const std::string fifo = m_dir.File("fifo.wav");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // opened for reading, it would block
  const std::string not_regular = ": it is not a regular file (a FIFO or a device, say)";
  for (const auto& c : {std::make_pair(fifo, "cannot read " + fifo + not_regular),
                        std::make_pair(std::string("/dev/zero"), "cannot read /dev/zero" + not_regular),
                        std::make_pair(m_dir.path(), "cannot read " + m_dir.path() + ": it is a folder")}) {
    AudioFile file;
    std::string error;
    EXPECT_FALSE(file.Read(c.first, &error));
    EXPECT_EQ(error, c.second);
  }
}

TEST_F(AudioFiles, AnInputTooLargeForTheMemoryIsAMessageAndExitTwo) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#endif
  if (!std::string(SEMHOST_TEST_EMULATOR).empty()) GTEST_SKIP() << "an emulator takes its own address space";
  // A mono float WAV of 1e9 frames (4 GB, sparse) read whole by diff, under a 1 GB address space.
  const std::string huge = m_dir.File("huge.wav"), err = m_dir.File("err.txt");
  const uint32_t bytes = 4000000000u, riff = bytes + 36, fmt_size = 16, rate = 48000, byte_rate = 4 * rate;
  const uint16_t ieee_float = 3, channels = 1, block = 4, bits = 32;
  std::string header = "RIFF....WAVEfmt ....ffccrrrrbbbbaabbdata....";
  memcpy(&header[4], &riff, 4);
  memcpy(&header[16], &fmt_size, 4);
  memcpy(&header[20], &ieee_float, 2);
  memcpy(&header[22], &channels, 2);
  memcpy(&header[24], &rate, 4);
  memcpy(&header[28], &byte_rate, 4);
  memcpy(&header[32], &block, 2);
  memcpy(&header[34], &bits, 2);
  memcpy(&header[40], &bytes, 4);
  FILE* file = fopen(huge.c_str(), "wb");
  fwrite(header.data(), 1, header.size(), file);
  fclose(file);
  ASSERT_EQ(truncate(huge.c_str(), 44 + static_cast<off_t>(bytes)), 0);
  const std::string command = "ulimit -v 1000000; '" SEMHOST_PATH "' diff '" + huge + "' '" + huge + "' 2>'" + err + "'";
  const int status = system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(semhost::ReadFile(err), "semhost: diff: cannot read " + huge + ": not enough memory for its 1000000000 frames of 1 channel(s)\n");
}

TEST(AudioDiff, BitExactTellsZeroSignsApartAndAToleranceNeverPassesANonFiniteSample) {
  const AudioFile zero(1, 48000, {0.0f, 1.0f}), negative_zero(1, 48000, {-0.0f, 1.0f}), nan(1, 48000, {0.0f, NAN});
  semhost::DiffFigures figures = semhost::AudioDiff().Compare(zero, negative_zero);
  EXPECT_EQ(figures.first_frame, 0);
  EXPECT_EQ(figures.peak, 0.0);
  EXPECT_TRUE(semhost::AudioDiff::Within(semhost::AudioDiff(-300.0).Compare(zero, negative_zero)));
  figures = semhost::AudioDiff(0.0).Compare(zero, nan);
  EXPECT_EQ(figures.first_frame, 1);
  EXPECT_TRUE(std::isnan(figures.peak));
  EXPECT_TRUE(std::isnan(figures.rms_dbfs));
}

TEST_F(AudioFiles, WrittenSamplesReadBackExactlyAndIntegerFormatsRoundAndClip) {
  const std::vector<float> samples = {0.1f, 1.5f, -1.5f, 0.5f, -1.0f, NAN};
  AudioFile source(2, 44100, samples), back;
  std::string error;
  ASSERT_TRUE(source.Write(m_dir.File("float.wav"), SampleFormat::kDefault, &error)) << error;
  ASSERT_TRUE(back.Read(m_dir.File("float.wav"), &error)) << error;
  EXPECT_EQ(memcmp(back.interleaved().data(), samples.data(), sizeof(float) * samples.size()), 0);
  EXPECT_EQ(back.channels(), 2);
  EXPECT_EQ(back.sample_rate(), 44100);
  EXPECT_EQ(back.frames(), 3);
  EXPECT_EQ(back.Channel(0), (std::vector<float>{0.1f, -1.5f, -1.0f}));
  // 0.1 is 3276.8 16-bit steps and 838860.8 24-bit steps.
  ASSERT_TRUE(source.Write(m_dir.File("pcm16.wav"), SampleFormat::kPcm16, &error)) << error;
  ASSERT_TRUE(back.Read(m_dir.File("pcm16.wav"), &error)) << error;
  EXPECT_EQ(back.interleaved(), (std::vector<float>{3277.0f / 32768, 32767.0f / 32768, -1.0f, 0.5f, -1.0f, 0.0f}));
  ASSERT_TRUE(source.Write(m_dir.File("pcm24.wav"), SampleFormat::kPcm24, &error)) << error;
  ASSERT_TRUE(back.Read(m_dir.File("pcm24.wav"), &error)) << error;
  EXPECT_EQ(back.interleaved(), (std::vector<float>{838861.0f / 8388608, 8388607.0f / 8388608, -1.0f, 0.5f, -1.0f, 0.0f}));
  // FLAC holds no floats: the default there is 24-bit.
  ASSERT_TRUE(source.Write(m_dir.File("default.flac"), SampleFormat::kDefault, &error)) << error;
  SF_INFO info = {};
  SNDFILE* file = sf_open(m_dir.File("default.flac").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  sf_close(file);
  EXPECT_EQ(info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
}

TEST(AudioWriter, AnOutputPastFourGibibytesIsRf64OrRefusedNeverWrapped) {
  const struct {
    int major;
    int64_t frames;
    int32_t bytes;
    int container;
  } cases[] = {
      {SF_FORMAT_WAV, 2200000000LL, 2, SF_FORMAT_RF64},  // read back as 52,516,352 frames when wrapped
      {SF_FORMAT_WAV, 2147483648LL, 2, SF_FORMAT_RF64},  // exactly 4 GiB: read back as 0 when wrapped
      {SF_FORMAT_WAV, 1073740799LL, 4, SF_FORMAT_WAV},   // just under 4 GiB less 4 KiB: WAV still holds it
      {SF_FORMAT_WAV, -1, 4, SF_FORMAT_WAV},             // length not known
      {SF_FORMAT_W64, 2200000000LL, 2, SF_FORMAT_W64},
      {SF_FORMAT_AIFF, 2200000000LL, 2, 0},
      {SF_FORMAT_AU, 2200000000LL, 2, 0},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(semhost::ContainerFor(c.major, c.frames, 1, c.bytes, &error), c.container) << c.frames;
    EXPECT_EQ(error.empty(), c.container != 0) << error;
  }
}

TEST_F(AudioFiles, AFailedOrAbandonedWriteLeavesTheTargetAsItWas) {
  const std::string target = m_dir.File("out.wav");
  FILE* file = fopen(target.c_str(), "w");
  fputs("old", file);
  fclose(file);
  const AudioFile source(1, 48000, {0.25f, 0.5f});
  std::string error, temporary;
  {
    AudioWriter writer;
    ASSERT_TRUE(writer.Open(target, 1, 48000, SampleFormat::kFloat, &error)) << error;
    ASSERT_TRUE(writer.Write(source.interleaved().data(), 2, &error)) << error;
    temporary = writer.temporary_path();
    EXPECT_EQ(temporary.compare(0, target.size() + 5, target + ".tmp-"), 0) << temporary;
    EXPECT_EQ(access(temporary.c_str(), F_OK), 0);
  }
  EXPECT_EQ(semhost::ReadFile(target), "old");
  EXPECT_NE(access(temporary.c_str(), F_OK), 0);

  EXPECT_FALSE(source.Write(m_dir.File("missing/out.wav"), SampleFormat::kFloat, &error));
  EXPECT_EQ(error, "cannot write " + m_dir.File("missing/out.wav") + ": No such file or directory");
  EXPECT_FALSE(source.Write(m_dir.File("out.xyz"), SampleFormat::kFloat, &error));
  EXPECT_EQ(error.find("cannot write " + m_dir.File("out.xyz") + ": no audio file format for the extension 'xyz'"), 0u);
  EXPECT_NE(access(m_dir.File("out.xyz").c_str(), F_OK), 0);
  EXPECT_FALSE(source.Write(m_dir.File("out.flac"), SampleFormat::kFloat, &error));
  EXPECT_EQ(error.find("cannot write " + m_dir.File("out.flac") + ": the .flac format does not hold float samples"), 0u);
  EXPECT_NE(access(m_dir.File("out.flac").c_str(), F_OK), 0);
  // The rename fails onto a folder: the temporary file goes, the folder stays.
  const std::string folder = m_dir.File("folder.wav");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  {
    AudioWriter writer;
    ASSERT_TRUE(writer.Open(folder, 1, 48000, SampleFormat::kFloat, &error)) << error;
    ASSERT_TRUE(writer.Write(source.interleaved().data(), 2, &error)) << error;
    temporary = writer.temporary_path();
    EXPECT_FALSE(writer.Commit(&error));
    EXPECT_EQ(error, "cannot write " + folder + ": Is a directory");
    EXPECT_NE(access(temporary.c_str(), F_OK), 0);
  }
  EXPECT_EQ(rmdir(folder.c_str()), 0);

  ASSERT_TRUE(source.Write(target, SampleFormat::kFloat, &error)) << error;
  AudioFile back;
  ASSERT_TRUE(back.Read(target, &error)) << error;
  EXPECT_EQ(back.interleaved(), source.interleaved());
}

#endif  // SEMHOST_AUDIO_FILES

}  // namespace
