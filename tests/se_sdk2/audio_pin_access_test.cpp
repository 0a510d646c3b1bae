// The audio half's pin access as an author's debug build compiles it: the
// bound-pin count, a sample pin's buffer, and GetPin's range check, which
// only debug builds make.

#undef NDEBUG  // this file is a debug build of the framework's inline pin access

#include <gtest/gtest.h>

#include "SEModule_base.h"
#include "StandInHost.h"
#include "probe_module.h"
#include "test_support.h"

namespace {

constexpr const char* kModuleFile = "..\\se_sdk2\\SEModule_base";
constexpr const char* kPinFile = "..\\se_sdk2\\SEPin";

class AudioPinAccess : public ::testing::Test {
 protected:
  // "Gain"-like declarations: a float input, then a repeating sample output.
  ProbeModule* Open(int32_t host_count) {
    host.schedule().SetAudioPinCount(host_count, 16);
    host.CreateAudio([&](SEHostCallback cb, int32_t ctx) {
      module = new ProbeModule(cb, ctx, &log,
                               {PinDecl(DR_IN, DT_FLOAT, 0), PinDecl(DR_OUT, DT_FSAMPLE, IO_REPEATING)});
      return module->Record();
    });
    EXPECT_EQ(module->PinCount(), 0);  // nothing bound before OP_OPEN
    host.AudioDispatch(OP_OPEN);
    return module;
  }
  std::vector<ProbeCall> log;
  sehost::StandInHost host;
  ProbeModule* module = nullptr;
};

TEST_F(AudioPinAccess, PinCountAndSampleBuffersAreThePinsTheHostBound) {
  Open(4);
  EXPECT_EQ(module->PinCount(), 4);
  for (int32_t pin = 1; pin < 4; ++pin) EXPECT_EQ(module->GetPin(pin)->SampleBuffer(), host.schedule().PinBuffer(pin).data());
  EXPECT_DEATH(module->GetPin(0)->SampleBuffer(), AssertionPattern("m_datatype == DT_FSAMPLE", kPinFile));
}

TEST_F(AudioPinAccess, ADebugBuildReportsAnIndexOutsideTheBoundPinsWithTheIndexAndTheCount) {
  Open(3);
  EXPECT_DEATH(module->GetPin(3), AssertionPattern("index >= 0 && index < PinCount() (index 3, count 3)", kModuleFile));
  EXPECT_DEATH(module->GetPin(-1), AssertionPattern("index >= 0 && index < PinCount() (index -1, count 3)", kModuleFile));
  EXPECT_EQ(module->GetPin(2)->Index(), 2);
}

TEST_F(AudioPinAccess, AModuleWithoutPinsStillFailsOnTheMissingArrayFirst) {
  Open(0);
  EXPECT_DEATH(module->GetPin(0), AssertionPattern("m_pins != 0", kModuleFile));
}

}  // namespace
