// How the audio record's dispatcher routes the host's opcodes, and the
// contract violations it reports.

#include <gtest/gtest.h>

#include <stdexcept>

#include "SEModule_base.h"
#include "StandInHost.h"
#include "probe_module.h"
#include "test_support.h"

namespace {

constexpr const char* kModuleFile = "..\\se_sdk2\\SEModule_base";
constexpr const char* kPinFlagsRule =
    "(((SEPinProperties*)ptr)->flags & IO_PATCH_STORE) == 0 || (((SEPinProperties*)ptr)->flags & IO_PRIVATE) != 0 "
    "|| ((SEPinProperties*)ptr)->direction == DR_OUT || ( ( (SEPinProperties*)ptr)->flags & IO_UI_COMMUNICATION) "
    "!= 0";

class AudioDispatch : public ::testing::Test {
 protected:
  ProbeModule* Create(std::vector<SEPinProperties> pins = {}) {
    host.CreateAudio([&](SEHostCallback cb, int32_t ctx) {
      module = new ProbeModule(cb, ctx, &log, pins);
      return module->Record();
    });
    return module;
  }
  std::vector<ProbeCall> log;  // outlives the host, which closes the module
  sehost::StandInHost host;
  ProbeModule* module = nullptr;
};

TEST_F(AudioDispatch, NotifyReportsTheCountOnlyWhenPositive) {
  Create();
  EXPECT_EQ(host.AudioDispatch(OP_NOTIFY, 0), 0);
  EXPECT_EQ(host.AudioDispatch(OP_NOTIFY, -4), 0);
  EXPECT_EQ(host.AudioDispatch(OP_NOTIFY, 3), 0);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].name, "OnNotify");
  EXPECT_EQ(log[1].name, "OnNotify");
  EXPECT_EQ(log[2].name, "OnNotify");
  EXPECT_EQ(log[3].name, "OnNotifyCount");
  EXPECT_EQ(log[3].a, 3);
}

TEST_F(AudioDispatch, CommandHandsOverValueFirst) {
  Create();
  int marker = 0;
  EXPECT_EQ(host.AudioDispatch(OP_COMMAND, /*index*/ 4, /*value*/ -7, &marker), 0);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].name, "OnHostCommand");
  EXPECT_EQ(log[0].a, -7);
  EXPECT_EQ(log[0].b, 4);
  EXPECT_EQ(log[0].ptr, &marker);
}

TEST_F(AudioDispatch, SampleRateAndBlockSizeAreStoredAsGiven) {
  Create();
  const float nan_with_payload = BitsFloat(0x7FC0ABCDu);
  EXPECT_EQ(host.AudioDispatch(OP_SET_SAMPLE_RATE, 0, 96000, nullptr, nan_with_payload), 0);
  EXPECT_EQ(FloatBits(module->SampleRate()), 0x7FC0ABCDu);
  EXPECT_EQ(host.AudioDispatch(OP_SET_SAMPLE_RATE, 0, 0, nullptr, -48000.0f), 0);
  EXPECT_EQ(module->SampleRate(), -48000.0f);
  EXPECT_EQ(host.AudioDispatch(OP_SET_BLOCK_SIZE, 0, -3), 0);
  EXPECT_EQ(module->BlockSize(), -3);
  EXPECT_TRUE(host.Callbacks().empty());
}

TEST_F(AudioDispatch, OpcodesWithoutActionAnswerZeroAndCallNothing) {
  Create();
  for (int32_t opcode : {4, 5, 9, 11, 14, 255, -1, INT32_MIN}) {
    EXPECT_EQ(host.AudioDispatch(opcode, 1, 1, &log, 1.0f), 0) << opcode;
  }
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(host.Callbacks().empty());
}

TEST_F(AudioDispatch, CloseRunsCloseThenTheDestructorAndAnswersOne) {
  Create();
  EXPECT_EQ(host.CloseAudio(), 1);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].name, "Close");
  EXPECT_EQ(log[1].name, "~ProbeModule");
  EXPECT_EQ(host.audio(), nullptr);
  EXPECT_TRUE(host.Callbacks().empty());
}

TEST_F(AudioDispatch, ProcessFunctionInfoIsOneBlockRewrittenForEachAsker) {
  Create();
  std::vector<ProbeCall> other_log;
  sehost::StandInHost other_host;
  ProbeModule* other = nullptr;
  other_host.CreateAudio([&](SEHostCallback cb, int32_t ctx) {
    other = new ProbeModule(cb, ctx, &other_log);
    return other->Record();
  });
  const se_ret_t first = host.AudioDispatch(OP_GET_PROCESS_FUNCTION_INFO);
  const auto* info = reinterpret_cast<const ProcessFunctionInfo*>(first);
  EXPECT_EQ(info->kind, 1);
  EXPECT_EQ(info->size, static_cast<int32_t>(sizeof(SEProcessMember)));
  EXPECT_EQ(info->address, &module->m_process_function);
  EXPECT_EQ(info->tag, 1002);
  const se_ret_t second = other_host.AudioDispatch(OP_GET_PROCESS_FUNCTION_INFO);
  EXPECT_EQ(second, first);
  EXPECT_EQ(info->address, &other->m_process_function);
#if SE_RECORDS_ARE_32BIT
  EXPECT_EQ(info->size, 8);
#endif
}

TEST_F(AudioDispatch, PinPropertiesFillTheHostsRecordWithoutClearingIt) {
  static const char name[] = "In";
  SEPinProperties declared = PinDecl(DR_IN, DT_FLOAT, IO_PATCH_STORE | IO_PRIVATE);
  declared.name = name;
  Create({declared});
  SEPinProperties record;
  memset(&record, 0xA5, sizeof record);
  record.flags = 0;
  EXPECT_EQ(host.AudioDispatch(OP_GET_PIN_PROPERTIES, 0, 0, &record), 1);
  EXPECT_EQ(record.name, name);
  EXPECT_EQ(record.flags, IO_PATCH_STORE | IO_PRIVATE);

  // The probe writes nothing for an unknown pin: the host's bytes stay.
  memset(&record, 0x5A, sizeof record);
  record.flags = 0;
  EXPECT_EQ(host.AudioDispatch(OP_GET_PIN_PROPERTIES, 1, 0, &record), 0);
  EXPECT_EQ(record.direction, 0x5A5A5A5A);
  EXPECT_EQ(host.AudioDispatch(OP_GET_PIN_PROPERTIES, 0, 0, nullptr), 0);
}

TEST_F(AudioDispatch, PatchStoreIsAllowedOnPrivateInputsOutputsAndGuiPins) {
  Create({PinDecl(DR_IN, DT_FLOAT, IO_PATCH_STORE | IO_PRIVATE), PinDecl(DR_OUT, DT_FLOAT, IO_PATCH_STORE),
          PinDecl(DR_IN, DT_FLOAT, IO_PATCH_STORE | IO_UI_COMMUNICATION), PinDecl(DR_IN, DT_FLOAT, 0)});
  EXPECT_EQ(host.QueryPins().size(), 4u);
}

TEST_F(AudioDispatch, AnExceptionInsideDispatchAnswersZero) {
  class Throwing : public SEModule_base {
   public:
    using SEModule_base::SEModule_base;
    void OnNotify() override { throw std::runtime_error("module failed"); }
  };
  host.CreateAudio([](SEHostCallback cb, int32_t ctx) { return (new Throwing(cb, ctx))->Record(); });
  EXPECT_EQ(host.AudioDispatch(OP_NOTIFY, 2), 0);
  EXPECT_EQ(host.CloseAudio(), 1);
}

TEST_F(AudioDispatch, AThrowingCloseStillDestroysTheInstanceAndAnswersOne) {
  class ThrowingClose : public ProbeModule {
   public:
    using ProbeModule::ProbeModule;
    void Close() override {
      ProbeModule::Close();
      throw std::runtime_error("close failed");
    }
  };
  host.CreateAudio([&](SEHostCallback cb, int32_t ctx) { return (new ThrowingClose(cb, ctx, &log))->Record(); });
  EXPECT_EQ(host.CloseAudio(), 1);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].name, "Close");
  EXPECT_EQ(log[1].name, "~ProbeModule");
  EXPECT_EQ(host.audio(), nullptr);
}

TEST(AudioWithoutCallback, HostCallsAreSkippedAndYieldZero) {
  std::vector<ProbeCall> log;
  ProbeModule module(nullptr, 0, &log, {PinDecl(DR_IN, DT_FLOAT, 0)});
  EXPECT_EQ(module.CallHost(HC_GET_PIN_COUNT, 1, 2, nullptr, 3.0f), 0);
  EXPECT_EQ(module.SampleClock(), 0u);
  module.Open();
  EXPECT_EQ(module.m_pins, nullptr);
  module.AddEvent(5, EVT_TIMED_MESSAGE, 0, 0, 0);  // no host: nothing posted, no check
  module.SetProcessFunction(SEModule_base::ProcessFunction<&ProbeModule::Work>());
  EXPECT_EQ(module.Record()->process_function,
            SEModule_base::CodeEntry(SEModule_base::ProcessFunction<&ProbeModule::Work>()));
}

TEST_F(AudioDispatch, OpcodesSevenAndTenAreContractViolations) {
  Create();
  EXPECT_DEATH(host.AudioDispatch(7), AssertionPattern("false", kModuleFile));
  EXPECT_DEATH(host.AudioDispatch(10), AssertionPattern("false", kModuleFile));
}

TEST_F(AudioDispatch, PatchStoreOnAPlainInputBreaksThePinFlagsRule) {
  Create({PinDecl(DR_IN, DT_FLOAT, IO_PATCH_STORE)});
  SEPinProperties record{};
  EXPECT_DEATH(host.AudioDispatch(OP_GET_PIN_PROPERTIES, 0, 0, &record), AssertionPattern(kPinFlagsRule, kModuleFile));
}

TEST_F(AudioDispatch, TheRuleIsCheckedOnTheRecordEvenWhenThePinDoesNotExist) {
  Create();
  SEPinProperties record{};
  record.flags = IO_PATCH_STORE;  // the host's own leftovers, not a pin the module has
  EXPECT_DEATH(host.AudioDispatch(OP_GET_PIN_PROPERTIES, 5, 0, &record), AssertionPattern(kPinFlagsRule, kModuleFile));
}

}  // namespace
