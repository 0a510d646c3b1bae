// The stand-in host's audio engine on the audio fixtures, run in this
// process: outputs equal the fixture's arithmetic bit for bit whatever the
// block size, control changes land on their exact frame, and the status
// events come at their clocks, the host's before the module's.

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "AudioEngine.h"
#include "fixtures/audio/AudioFixtures.h"
#include "FloatBits.h"
#include "StandInHost.h"

namespace {

using sehost::AudioEngine;
using sehost::Entry;
using sehost::StandInHost;
using sehost::TraceEntry;
using setest::FloatBits;

// Declarations of AudioGain (see AudioFixtures.h) and its audio-side pins.
constexpr int32_t kGain = 0, kPolarity = 1, kTrim = 2, kLabel = 3, kOut1 = 4;
constexpr int32_t kInPin = 5;  // audio-side index of the first "In"

struct Event {
  uint32_t clock;
  int32_t type;
  int32_t value;
  intptr_t pin;
  bool operator==(const Event& o) const { return clock == o.clock && type == o.type && value == o.value && pin == o.pin; }
};

// One render of AudioGain over `inputs` with the changes given, in blocks of
// `block`; the two outputs, and every event delivered.
struct Rendered {
  std::vector<float> out1, out2;
  std::vector<Event> events;
};

struct Step {
  int32_t declaration;
  uint32_t bits;
  uint32_t frame;
};

template <class Module = audiofixture::AudioGain>
Rendered Render(const std::vector<std::vector<float>>& inputs, const std::vector<Step>& steps, int32_t block,
                int64_t total) {
  StandInHost host;
  host.CreateAudio([](SEHostCallback cb, int32_t ctx) { return (new Module(cb, ctx))->Record(); });
  AudioEngine engine(host, host.QueryPins(), static_cast<int32_t>(inputs.size()));
  host.AudioDispatch(OP_SET_BLOCK_SIZE, 0, block);
  engine.Prepare(block);
  host.AudioDispatch(OP_OPEN);
  for (size_t i = 0; i < inputs.size(); ++i) engine.Stream(i, inputs[i].data(), static_cast<int64_t>(inputs[i].size()));
  std::string why;
  for (const Step& s : steps) EXPECT_TRUE(engine.ScheduleChange(s.declaration, s.bits, s.frame, &why)) << why;
  Rendered r;
  const sehost::Subscription watch = host.OnCall([&](const TraceEntry& e) {
    if (e.entry != Entry::kEvent) return;
    SEEvent event;
    memcpy(&event, e.ptr, sizeof event);
    r.events.push_back({host.schedule().sample_clock(), event.event_type, event.int_value1, event.ptr_value});
  });
  for (int64_t done = 0; done < total;) {
    const int32_t frames = static_cast<int32_t>(std::min<int64_t>(block, total - done));
    engine.Process(frames);
    r.out1.insert(r.out1.end(), engine.Output(0), engine.Output(0) + frames);
    r.out2.insert(r.out2.end(), engine.Output(1), engine.Output(1) + frames);
    done += frames;
  }
  return r;
}

std::vector<float> Ramp(size_t frames, float scale) {
  std::vector<float> ramp(frames);
  for (size_t i = 0; i < frames; ++i) ramp[i] = static_cast<float>(i) * scale;
  return ramp;
}

TEST(AudioEngine, RampTimesGainIsExactWithStepsOffBlockBoundariesForEveryBlockSize) {
  // Three channels: "In" repeats; Out 2 sums the second and third.
  const std::vector<std::vector<float>> inputs = {Ramp(5000, 1.0f / 4096), Ramp(5000, -1.0f / 8192), Ramp(3000, 1.0f / 3)};
  const std::vector<Step> steps = {{kGain, FloatBits(0.5f), 0}, {kGain, FloatBits(3.0f), 1000},
                                   {kPolarity, 1, 1501}, {kGain, FloatBits(-0.75f), 4095}};
  std::vector<float> want1(5000), want2(5000);
  for (size_t i = 0; i < 5000; ++i) {
    const float gain = i < 1000 ? 0.5f : i < 4095 ? 3.0f : -0.75f;
    const float g = i >= 1501 ? -gain : gain;
    const float third = i < 3000 ? inputs[2][i] : 0.0f;
    want1[i] = inputs[0][i] * g;
    want2[i] = (0.0f + inputs[1][i] + third) * g;
  }
  for (int32_t block : {1, 7, 64, 4096}) {
    const Rendered r = Render(inputs, steps, block, 5000);
    for (size_t i = 0; i < 5000; ++i) {
      ASSERT_EQ(FloatBits(r.out1[i]), FloatBits(want1[i])) << "Out 1, frame " << i << ", block size " << block;
      ASSERT_EQ(FloatBits(r.out2[i]), FloatBits(want2[i])) << "Out 2, frame " << i << ", block size " << block;
    }
  }
}

TEST(AudioEngine, StreamsAndChangesAnnounceThemselvesAtTheirClocksInTheOrderScheduled) {
  const std::vector<std::vector<float>> inputs = {Ramp(300, 0.001f), Ramp(130, 0.001f)};
  const Rendered r = Render(inputs, {{kGain, FloatBits(2.0f), 0}, {kPolarity, 1, 100}, {kGain, FloatBits(1.0f), 100}}, 64, 400);
  const std::vector<Event> want = {
      {0, EVT_PIN_STATUS, 2, kInPin},      {0, EVT_PIN_STATUS, 2, kInPin + 1},  // streaming from clock 0
      {0, EVT_PIN_STATUS, 1, kGain},       {100, EVT_PIN_STATUS, 1, kPolarity},  // changes: status 1, audio index
      {100, EVT_PIN_STATUS, 1, kGain},     {130, EVT_PIN_STATUS, 0, kInPin + 1},  // the shorter file ends
      {300, EVT_PIN_STATUS, 0, kInPin},
  };
  EXPECT_EQ(r.events, want);
  EXPECT_EQ(FloatBits(r.out1[99]), FloatBits(inputs[0][99] * 2.0f));
  EXPECT_EQ(FloatBits(r.out1[100]), FloatBits(-inputs[0][100]));
}

// Posts a timed message for clock 64 from its first run.
class PostingGain : public audiofixture::AudioGain {
 public:
  using AudioGain::AudioGain;
  void Process(int32_t offset, int32_t frames) override {
    if (!m_posted) AddEvent(64, EVT_TIMED_MESSAGE, 7, 0, 0);
    m_posted = true;
    AudioGain::Process(offset, frames);
  }

 private:
  bool m_posted = false;
};

TEST(AudioEngine, AtOneClockTheHostsChangesComeBeforeTheModulesEventsWhateverTheBlockSize) {
  for (int32_t block : {64, 65, 4096}) {
    const Rendered r = Render<PostingGain>({}, {{kGain, FloatBits(2.0f), 64}}, block, 200);
    const std::vector<Event> want = {{64, EVT_PIN_STATUS, 1, kGain}, {64, EVT_TIMED_MESSAGE, 7, 0}};
    EXPECT_EQ(r.events, want) << "block size " << block;
  }
}

// Logs every call and event with its clock, and posts events that cut its
// runs: inside a run at each multiple of 37, and at a run's start at each
// multiple of 100 (once: the repeated run stands); and for 20 frames after
// each multiple of 50 it passes, often in a later block.
std::vector<std::string> g_ticks;
class Ticker : public audiofixture::AudioGain {
 public:
  using AudioGain::AudioGain;
  void Process(int32_t offset, int32_t frames) override {
    const uint32_t clock = SampleClock();
    g_ticks.push_back("process " + std::to_string(clock) + " " + std::to_string(offset) + "+" + std::to_string(frames));
    const uint32_t next = (clock / 37 + 1) * 37;
    if (next < clock + static_cast<uint32_t>(frames)) AddEvent(next, EVT_TIMED_MESSAGE, 37, 0, 0);
    const uint32_t fifty = (clock / 50 + 1) * 50;
    if (fifty < clock + static_cast<uint32_t>(frames)) AddEvent(fifty + 20, EVT_TIMED_MESSAGE, 50, 0, 0);
    if (clock % 100 == 0 && clock != m_cut) AddEvent(clock, EVT_TIMED_MESSAGE, 100, 0, 0);
    m_cut = clock % 100 == 0 ? clock : m_cut;
    AudioGain::Process(offset, frames);
  }
  void HandleEvent(SEEvent* e) override {
    g_ticks.push_back("event " + std::to_string(SampleClock()) + " " + std::to_string(e->event_type) + " " +
                      std::to_string(e->int_value1));
    AudioGain::HandleEvent(e);
  }

 private:
  uint32_t m_cut = UINT32_MAX;
};

// The ticker over two inputs (one ends early) with changes, in blocks of
// `block`: by Process block after block, or in quiet runs where they can go.
std::vector<float> RenderTicker(int32_t block, bool quiet, int64_t* quiet_blocks) {
  const int64_t total = 1000;
  const std::vector<float> in1 = Ramp(1000, 1.0f / 1024), in2 = Ramp(450, -1.0f / 512);
  StandInHost host;
  host.CreateAudio([](SEHostCallback cb, int32_t ctx) { return (new Ticker(cb, ctx))->Record(); });
  AudioEngine engine(host, host.QueryPins(), 2);
  host.AudioDispatch(OP_SET_BLOCK_SIZE, 0, block);
  engine.Prepare(block);
  host.AudioDispatch(OP_OPEN);
  engine.Stream(0, in1.data(), 1000);
  engine.Stream(1, in2.data(), 450);
  std::string why;
  EXPECT_TRUE(engine.ScheduleChange(kGain, FloatBits(2.0f), 250, &why) && engine.ScheduleChange(kPolarity, 1, 251, &why));
  std::vector<float> out(2 * total);
  const sehost::OutputLayout layout{out.data(), 1, static_cast<size_t>(total)};
  *quiet_blocks = 0;
  for (int64_t at = 0; at < total;) {
    const int32_t frames = static_cast<int32_t>(std::min<int64_t>(block, total - at));
    const int64_t ran = quiet ? engine.ProcessQuiet(frames, (total - at) / frames, layout.From(at)) : 0;
    *quiet_blocks += ran;
    at += ran * frames;
    if (ran > 0) continue;
    engine.Process(frames);
    engine.CopyOutputs(layout.From(at), frames);
    at += frames;
  }
  return out;
}

TEST(AudioEngine, QuietRunsGiveWhatProcessGivesCallForCallAndSampleForSample) {
  for (int32_t block : {1, 7, 64, 300}) {
    int64_t quiet_blocks = 0;
    g_ticks.clear();
    const std::vector<float> want = RenderTicker(block, false, &quiet_blocks);
    const std::vector<std::string> want_ticks = g_ticks;
    g_ticks.clear();
    const std::vector<float> got = RenderTicker(block, true, &quiet_blocks);
    EXPECT_GT(quiet_blocks, 0) << "block size " << block;
    EXPECT_EQ(g_ticks, want_ticks) << "block size " << block;
    for (size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(FloatBits(got[i]), FloatBits(want[i])) << "sample " << i << ", block size " << block;
    }
  }
}

TEST(AudioEngine, AHostCannotSetAPinWithoutAVariableOrAudioSide) {
  StandInHost host;
  host.CreateAudio([](SEHostCallback cb, int32_t ctx) { return (new audiofixture::AudioGain(cb, ctx))->Record(); });
  const AudioEngine engine(host, host.QueryPins(), 4);
  // 0 Gain, 1 Polarity, 2 Trim, 3 Out 1, 4 Out 2, 5–8 In: the GUI-only "Label" has no audio side.
  EXPECT_EQ(engine.pins().size(), 9u);
  EXPECT_EQ(engine.sample_inputs(), (std::vector<int32_t>{5, 6, 7, 8}));
  EXPECT_EQ(engine.sample_outputs(), (std::vector<int32_t>{3, 4}));
  std::string why;
  EXPECT_TRUE(engine.CanSet(kGain, &why));
  EXPECT_FALSE(engine.CanSet(kTrim, &why));
  EXPECT_EQ(why, "it was declared without a variable (variable_address is null), so a host has nowhere to write its value");
  EXPECT_FALSE(engine.CanSet(kLabel, &why));
  EXPECT_EQ(why, "it has no audio side (a GUI-only pin), so it cannot change what the audio half renders");
  EXPECT_FALSE(engine.CanSet(kOut1, &why));
  EXPECT_EQ(why, "it is an output");
  EXPECT_FALSE(engine.CanSet(6, &why));
  EXPECT_EQ(why, "it is a sample input (DT_FSAMPLE): it takes a file's channel, not a value");
}

TEST(AudioEngine, AGeneratorReadsItsBufferThroughTheVariableTheHostFilled) {
  StandInHost host;
  host.CreateAudio([](SEHostCallback cb, int32_t ctx) { return (new audiofixture::AudioRamp(cb, ctx))->Record(); });
  AudioEngine engine(host, host.QueryPins(), 1);
  engine.Prepare(100);
  host.AudioDispatch(OP_OPEN);
  std::string why;
  ASSERT_TRUE(engine.ScheduleChange(0, FloatBits(4.0f), 150, &why)) << why;
  std::vector<float> out;
  for (int k = 0; k < 3; ++k) {
    engine.Process(100);
    out.insert(out.end(), engine.Output(0), engine.Output(0) + 100);
  }
  for (uint32_t i = 0; i < 300; ++i) {
    ASSERT_EQ(FloatBits(out[i]), FloatBits(static_cast<float>(i) / 65536.0f * (i < 150 ? 1.0f : 4.0f))) << i;
  }
}

}  // namespace

// Declarations at the end that all repeat (one channel's input and output of
// a stream processor) repeat as a group, copy after copy; the declared ones
// keep their variables, the copies get none.
TEST(AudioEngine, TrailingRepeatingPinsRepeatAsAGroup) {
  SEPinProperties pins[4] = {};
  float gain = 0.0f;
  pins[0] = {&gain, DR_IN, DT_FLOAT, "Gain", 0, nullptr, 0, 0};
  pins[1] = {nullptr, DR_IN, DT_FLOAT, "Plain", 0, nullptr, IO_REPEATING, 0};
  pins[2] = {nullptr, DR_IN, DT_FSAMPLE, "Input", 0, nullptr, IO_REPEATING, 0};
  pins[3] = {nullptr, DR_OUT, DT_FSAMPLE, "Output", 0, nullptr, IO_REPEATING, 0};
  EXPECT_EQ(AudioEngine::RepeatingDeclaration(std::vector<SEPinProperties>(pins, pins + 1)), -1);
  const std::vector<SEPinProperties> declared(pins, pins + 4);
  EXPECT_EQ(AudioEngine::RepeatingDeclaration(declared), 1);
  StandInHost host;
  const AudioEngine engine(host, std::vector<SEPinProperties>{pins[0], pins[2], pins[3]}, 3);
  EXPECT_EQ(engine.pins().size(), 7u);
  EXPECT_EQ(engine.sample_inputs(), (std::vector<int32_t>{1, 3, 5}));
  EXPECT_EQ(engine.sample_outputs(), (std::vector<int32_t>{2, 4, 6}));
  EXPECT_EQ(engine.pins()[0].variable, &gain);
  EXPECT_EQ(engine.pins()[3].repeat, true);
  EXPECT_EQ(engine.pins()[1].repeat, false);
}
