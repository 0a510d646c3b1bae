// Opening an audio half: which pins it binds, with which storage, and the
// pins' traffic with the host.

#include <gtest/gtest.h>

#include "SEModule_base.h"
#include "StandInHost.h"
#include "probe_module.h"
#include "test_support.h"

namespace {

constexpr const char* kModuleFile = "..\\se_sdk2\\SEModule_base";
constexpr const char* kPinFile = "..\\se_sdk2\\SEPin";
constexpr int32_t kGuiOnly = IO_UI_COMMUNICATION;

class AudioPins : public ::testing::Test {
 protected:
  ProbeModule* Open(std::vector<SEPinProperties> pins, int32_t host_count) {
    schedule.SetAudioPinCount(host_count, 16);
    host.CreateAudio([&](SEHostCallback cb, int32_t ctx) {
      module = new ProbeModule(cb, ctx, &log, pins);
      return module->Record();
    });
    host.AudioDispatch(OP_OPEN);
    return module;
  }
  // The declarations Open asked about, in order.
  std::vector<int64_t> Questions() const {
    std::vector<int64_t> asked;
    for (const auto& call : log)
      if (call.name == "GetPinProperties") asked.push_back(call.a);
    return asked;
  }
  std::vector<sehost::TraceEntry> CallsWith(int32_t opcode) const {
    std::vector<sehost::TraceEntry> calls;
    for (const auto& call : host.Callbacks())
      if (call.opcode == opcode) calls.push_back(call);
    return calls;
  }
  std::vector<ProbeCall> log;  // outlives the host, which closes the module
  sehost::StandInHost host;
  sehost::AudioSchedule& schedule = host.schedule();
  ProbeModule* module = nullptr;
};

TEST_F(AudioPins, GuiOnlyPinsWithAHostCountOfZeroGiveNoPinsAndOneQuestion) {
  Open({PinDecl(DR_IN, DT_ENUM, kGuiOnly), PinDecl(DR_IN, DT_FLOAT, kGuiOnly), PinDecl(DR_OUT, DT_FLOAT, kGuiOnly)},
       0);
  EXPECT_EQ(module->m_pins, nullptr);
  EXPECT_EQ(Questions(), std::vector<int64_t>{0});
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].opcode, HC_GET_PIN_COUNT);
  EXPECT_EQ(calls[0].index, 0);
  EXPECT_EQ(calls[0].value, 0);
  EXPECT_EQ(calls[0].ptr, nullptr);
}

TEST_F(AudioPins, ARepeatingLastPinFillsTheHostCountWithStorageOfItsOwn) {
  float input_variable = 7.0f;
  float* output_variable = nullptr;  // the declared output's buffer address lives here
  Open({PinDecl(DR_IN, DT_FLOAT, 0, &input_variable), PinDecl(DR_OUT, DT_FSAMPLE, IO_REPEATING, &output_variable)},
       4);
  ASSERT_NE(module->m_pins, nullptr);
  SEPin* pins = module->m_pins;
  EXPECT_EQ(pins[0].Variable(), &input_variable);
  EXPECT_EQ(pins[0].Datatype(), DT_FLOAT);
  EXPECT_EQ(pins[1].Variable(), &output_variable);
  EXPECT_EQ(pins[1].Datatype(), DT_FSAMPLE);
  for (int32_t j = 2; j < 4; ++j) {
    EXPECT_EQ(pins[j].Index(), j);
    EXPECT_EQ(pins[j].Datatype(), DT_FSAMPLE);
    EXPECT_EQ(pins[j].Module(), module);
    EXPECT_EQ(pins[j].Variable(), pins[j].OwnStorage()) << j;
    EXPECT_EQ(pins[j].OwnValue(), reinterpret_cast<uintptr_t>(schedule.PinBuffer(j).data())) << j;
  }
  const auto buffers = CallsWith(HC_GET_PIN_BUFFER);  // only the repeats ask: pin 1 has its variable
  ASSERT_EQ(buffers.size(), 2u);
  EXPECT_EQ(buffers[0].index, 2);
  EXPECT_EQ(buffers[1].index, 3);
  // Declarations 0, 1, 2 (the end), then 1 again for the repetition.
  EXPECT_EQ(Questions(), (std::vector<int64_t>{0, 1, 2, 1}));
}

TEST_F(AudioPins, GuiOnlyPinsAreSkippedInTheAudioNumbering) {
  Open({PinDecl(DR_IN, DT_ENUM, kGuiOnly), PinDecl(DR_IN, DT_FLOAT, 0)}, 1);
  ASSERT_NE(module->m_pins, nullptr);
  EXPECT_EQ(module->m_pins[0].Index(), 0);
  EXPECT_EQ(module->m_pins[0].Datatype(), DT_FLOAT);
  EXPECT_EQ(module->m_pins[0].Variable(), module->m_pins[0].OwnStorage());
  EXPECT_EQ(module->m_pins[0].OwnValue(), 0u);
}

// The host knows one audio pin, 0: a call that carried the declaration index
// (1) would get no buffer and no block start.
TEST_F(AudioPins, ASamplePinAfterAGuiOnlyPinAsksByItsAudioIndex) {
  Open({PinDecl(DR_IN, DT_ENUM, kGuiOnly), PinDecl(DR_IN, DT_FSAMPLE, 0)}, 1);
  const auto buffers = CallsWith(HC_GET_PIN_BUFFER);
  ASSERT_EQ(buffers.size(), 1u);
  EXPECT_EQ(buffers[0].index, 0);
  EXPECT_EQ(module->GetPin(0)->OwnValue(), reinterpret_cast<uintptr_t>(schedule.PinBuffer(0).data()));
  for (size_t i = 0; i < 16; ++i) schedule.PinBuffer(0)[i] = static_cast<float>(i) + 0.25f;
  schedule.SetSampleClock(1000);
  schedule.RunBlock(0);  // the block starts at 1000
  schedule.SetSampleClock(1003);
  host.ClearTrace();
  EXPECT_EQ(module->GetPin(0)->GetSampleValue(), 3.25f);
  const auto starts = CallsWith(HC_GET_BLOCK_START);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].index, 0);
  EXPECT_EQ(starts[0].result, 1000);
}

TEST_F(AudioPins, AGuiPinWithUiAndDspGetsAnAudioPin) {
  Open({PinDecl(DR_IN, DT_ENUM, kGuiOnly | IO_UI_AND_DSP), PinDecl(DR_IN, DT_FLOAT, 0)}, 2);
  EXPECT_EQ(module->m_pins[0].Datatype(), DT_ENUM);
  EXPECT_EQ(module->m_pins[1].Datatype(), DT_FLOAT);
}

TEST_F(AudioPins, AHostCountBelowTheDeclarationsBindsOnlyThatManyAndDoesNotRepeat) {
  Open({PinDecl(DR_IN, DT_FLOAT, 0), PinDecl(DR_IN, 8, 0), PinDecl(DR_OUT, DT_FSAMPLE, IO_REPEATING)}, 2);
  EXPECT_EQ(module->m_pins[0].Datatype(), DT_FLOAT);
  EXPECT_EQ(module->m_pins[1].Datatype(), 8);
  EXPECT_TRUE(CallsWith(HC_GET_PIN_BUFFER).empty());
  EXPECT_EQ(Questions(), (std::vector<int64_t>{0, 1, 2, 1}));
}

TEST_F(AudioPins, AGuiOnlyLastPinKeepsRepeatingFromHavingEffect) {
  Open({PinDecl(DR_IN, DT_FLOAT, 0), PinDecl(DR_IN, DT_FLOAT, kGuiOnly | IO_REPEATING)}, 3);
  EXPECT_EQ(module->m_pins[0].Datatype(), DT_FLOAT);
  // Pins 1 and 2 stay unbound, with every member cleared.
  for (int32_t j = 1; j < 3; ++j) {
    EXPECT_EQ(module->m_pins[j].Module(), nullptr);
    EXPECT_EQ(module->m_pins[j].Variable(), nullptr);
    EXPECT_EQ(module->m_pins[j].Index(), 0);
    EXPECT_EQ(module->m_pins[j].Datatype(), 0);
  }
}

TEST_F(AudioPins, OwnStorageFollowsTheDatatype) {
  Open({PinDecl(DR_IN, DT_ENUM, 0), PinDecl(DR_IN, 1, 0), PinDecl(DR_IN, 4, 0), PinDecl(DR_IN, 7, 0),
        PinDecl(DR_IN, 8, 0), PinDecl(DR_IN, 9, 0)},
       6);
  SEPin* pins = module->m_pins;
  EXPECT_EQ(pins[0].Variable(), pins[0].OwnStorage());
  EXPECT_EQ(pins[1].Variable(), nullptr);
  EXPECT_EQ(pins[2].Variable(), pins[2].OwnStorage());
  EXPECT_EQ(pins[3].Variable(), nullptr);
  EXPECT_EQ(pins[4].Variable(), pins[4].OwnStorage());
  EXPECT_EQ(pins[5].Variable(), nullptr);
  for (int32_t j = 0; j < 6; ++j) EXPECT_EQ(pins[j].OwnValue(), 0u) << j;
}

TEST_F(AudioPins, ASecondOpenRebuildsThePinsFromTheHostsNewCount) {
  Open({PinDecl(DR_IN, DT_FLOAT, IO_REPEATING)}, 2);
  SEPin* first = module->m_pins;
  ASSERT_NE(first, nullptr);
  schedule.SetAudioPinCount(5, 16);
  host.AudioDispatch(OP_OPEN);
  ASSERT_NE(module->m_pins, nullptr);
  EXPECT_EQ(module->m_pins[4].Index(), 4);
  schedule.SetAudioPinCount(0);
  host.AudioDispatch(OP_OPEN);
  EXPECT_EQ(module->m_pins, nullptr);
}

TEST_F(AudioPins, StatusOneIsReportedOnceAndNotKept) {
  Open({PinDecl(DR_IN, DT_FLOAT, 0)}, 1);
  log.clear();
  module->GetPin(0)->SetStatusFromEvent(1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].name, "OnPinStatusChange");
  EXPECT_EQ(log[0].b, 1);
  EXPECT_EQ(module->GetPin(0)->Status(), 0);
  module->GetPin(0)->SetStatusFromEvent(2);
  EXPECT_EQ(module->GetPin(0)->Status(), 2);
}

TEST_F(AudioPins, PinHostCallsCarryThePinIndex) {
  Open({PinDecl(DR_IN, DT_FLOAT, 0), PinDecl(DR_OUT, DT_FLOAT, 0)}, 2);
  schedule.SetSampleClock(100);
  host.SetAudioAnswer(HC_PIN_QUERY, -1);
  host.ClearTrace();
  int marker = 0;
  module->GetPin(1)->TransmitStatus(100, 3);  // the current clock is accepted
  EXPECT_TRUE(module->GetPin(1)->QueryHostFlag());
  module->GetPin(0)->SendPinData(&marker, 42);
  const auto status = CallsWith(HC_PIN_STATUS);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].index, 1);
  EXPECT_EQ(status[0].value, 3);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(status[0].ptr), 100u);
  EXPECT_EQ(module->GetPin(1)->Status(), 0);
  const auto query = CallsWith(HC_PIN_QUERY);
  ASSERT_EQ(query.size(), 1u);
  EXPECT_EQ(query[0].index, 1);
  const auto data = CallsWith(HC_PIN_DATA);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].index, 0);
  EXPECT_EQ(data[0].value, 42);
  EXPECT_EQ(data[0].ptr, &marker);
  host.SetAudioAnswer(HC_PIN_QUERY, 0);
  EXPECT_FALSE(module->GetPin(1)->QueryHostFlag());
}

TEST_F(AudioPins, SampleValueIsTheBufferAtTheClockSinceTheBlockStart) {
  Open({PinDecl(DR_IN, DT_FSAMPLE, 0)}, 1);
  for (size_t i = 0; i < 16; ++i) schedule.PinBuffer(0)[i] = static_cast<float>(i) + 0.5f;
  schedule.SetSampleClock(0xFFFFFFFEu);
  schedule.RunBlock(0);  // the block now starts at 0xFFFFFFFE
  schedule.SetSampleClock(3);  // five samples later, across the wrap
  EXPECT_EQ(module->GetPin(0)->GetSampleValue(), 5.5f);
}

TEST_F(AudioPins, PinContractViolations) {
  Open({PinDecl(DR_IN, DT_FLOAT, 0)}, 1);
  schedule.SetSampleClock(0x80000000u);
  EXPECT_DEATH(module->GetPin(0)->TransmitStatus(0x7FFFFFFFu, 1),
               AssertionPattern("sampleclock >= m_module->SampleClock()", kPinFile));
  EXPECT_DEATH(module->GetPin(0)->GetSampleValue(), AssertionPattern("m_datatype == DT_FSAMPLE", kPinFile));
}

TEST_F(AudioPins, GetPinWithoutPinsIsAContractViolation) {
  Open({PinDecl(DR_IN, DT_FLOAT, 0)}, 0);
  EXPECT_DEATH(module->GetPin(0), AssertionPattern("m_pins != 0", kModuleFile));
}

}  // namespace
