// The math module's audio half: its pin declarations and its process function.

#include <gtest/gtest.h>

#include "Module.h"
#include "StandInHost.h"
#include "test_support.h"

namespace {

// A properties record filled with a pattern, to see exactly which fields a
// declaration writes.
SEPinProperties Patterned() {
  SEPinProperties p;
  memset(&p, 0xA7, sizeof p);
  p.flags = 0;  // the host's leftovers must not break the flags rule themselves
  return p;
}

class MathAudio : public ::testing::Test {
 protected:
  void SetUp() override {
    host.CreateAudio([this](SEHostCallback cb, int32_t ctx) {
      module = new Module(cb, ctx);
      return module->Record();
    });
  }
  int Count(int32_t opcode) const {
    int n = 0;
    for (const auto& call : host.Callbacks()) n += call.opcode == opcode;
    return n;
  }
  sehost::StandInHost host;
  Module* module = nullptr;
};

TEST_F(MathAudio, DeclaresModeXAndResultWritingOnlyTheirOwnFields) {
  const SEPinProperties pattern = Patterned();
  SEPinProperties p = pattern;
  ASSERT_EQ(host.AudioDispatch(OP_GET_PIN_PROPERTIES, 0, 0, &p), 1);
  EXPECT_STREQ(p.name, "Mode");
  EXPECT_EQ(p.direction, DR_IN);   // written as 0 over the pattern
  EXPECT_EQ(p.datatype, DT_ENUM);  // likewise
  EXPECT_STREQ(p.datatype_extra, "cos,sin,sqrt,tan");
  EXPECT_EQ(p.flags, IO_UI_COMMUNICATION);
  EXPECT_EQ(p.variable_address, pattern.variable_address);
  EXPECT_EQ(p.reserved5, pattern.reserved5);
  EXPECT_EQ(p.reserved8, pattern.reserved8);

  p = pattern;
  ASSERT_EQ(host.AudioDispatch(OP_GET_PIN_PROPERTIES, 1, 0, &p), 1);
  EXPECT_STREQ(p.name, "X");
  EXPECT_EQ(p.direction, DR_IN);
  EXPECT_EQ(p.datatype, DT_FLOAT);
  EXPECT_EQ(p.flags, 1024);
  EXPECT_EQ(p.datatype_extra, pattern.datatype_extra);
  EXPECT_EQ(p.variable_address, pattern.variable_address);
  EXPECT_EQ(p.reserved5, pattern.reserved5);
  EXPECT_EQ(p.reserved8, pattern.reserved8);

  p = pattern;
  ASSERT_EQ(host.AudioDispatch(OP_GET_PIN_PROPERTIES, 2, 0, &p), 1);
  EXPECT_STREQ(p.name, "Result");
  EXPECT_EQ(p.direction, DR_OUT);
  EXPECT_EQ(p.datatype, DT_FLOAT);
  EXPECT_EQ(p.flags, 1024);
  EXPECT_EQ(p.datatype_extra, pattern.datatype_extra);
  EXPECT_EQ(p.variable_address, pattern.variable_address);
  EXPECT_EQ(p.reserved5, pattern.reserved5);
  EXPECT_EQ(p.reserved8, pattern.reserved8);
}

TEST_F(MathAudio, OtherPinIndicesAnswerFalseAndWriteNothing) {
  for (int32_t index : {3, -1, 1000}) {
    const SEPinProperties pattern = Patterned();
    SEPinProperties p = pattern;
    EXPECT_EQ(host.AudioDispatch(OP_GET_PIN_PROPERTIES, index, 0, &p), 0) << index;
    EXPECT_EQ(memcmp(&p, &pattern, sizeof p), 0) << index;
  }
  EXPECT_TRUE(host.Callbacks().empty());
}

TEST_F(MathAudio, OpenSwitchesToProcessOnceAndBindsNoPins) {
  host.AudioDispatch(OP_OPEN);
  EXPECT_EQ(Count(HC_PROCESS_FUNCTION_CHANGED), 1);
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].opcode, HC_PROCESS_FUNCTION_CHANGED);  // told before the pins are made
  EXPECT_EQ(calls[1].opcode, HC_GET_PIN_COUNT);
  EXPECT_EQ(host.audio()->process_function, SEModule_base::CodeEntry(SEModule_base::ProcessFunction<&Module::Process>()));
  host.AudioDispatch(OP_OPEN);
  EXPECT_EQ(Count(HC_PROCESS_FUNCTION_CHANGED), 1);
}

TEST_F(MathAudio, EachProcessRunSendsOpcodeTenWithZeros) {
  host.CallProcess(0, 64);
  EXPECT_TRUE(host.Callbacks().empty());  // idle before the open
  host.AudioDispatch(OP_OPEN);
  host.ClearTrace();
  host.CallProcess(0, 64);
  host.CallProcess(64, 1);
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 2u);
  for (const auto& call : calls) {
    EXPECT_EQ(call.record, host.audio());
    EXPECT_EQ(call.opcode, 10);
    EXPECT_EQ(call.index, 0);
    EXPECT_EQ(call.value, 0);
    EXPECT_EQ(call.ptr, nullptr);
    EXPECT_EQ(call.opt_bits, 0u);
  }
}

TEST(MathAudioWithoutCallback, ProcessDoesNothing) {
  Module module(nullptr, 0);
  module.Open();
  const SEProcessMember process = SEModule_base::ProcessFunction<&Module::Process>();
  EXPECT_TRUE(module.GetProcessFunction() == process);
  EXPECT_EQ(module.Record()->process_function, SEModule_base::CodeEntry(process));
  // A call through the null callback would end the test here.
  module.Record()->process_function(&module, 0, 16);
  EXPECT_TRUE(module.GetProcessFunction() == process);
  EXPECT_EQ(module.Record()->process_function, SEModule_base::CodeEntry(process));
}

}  // namespace
