// Timed events and process functions, end to end through the stand-in host's
// clock and event queue.

#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "SEModuleEntry.h"
#include "SEModule_base.h"
#include "StandInHost.h"
#include "probe_module.h"
#include "test_support.h"

namespace {

constexpr const char* kModuleFile = "..\\se_sdk2\\SEModule_base";

class AudioEvents : public ::testing::Test {
 protected:
  template <class M = ProbeModule>
  void Create(std::vector<SEPinProperties> pins = {}, int32_t host_count = 0) {
    schedule.SetAudioPinCount(host_count, 64);
    host.CreateAudio([&](SEHostCallback cb, int32_t ctx) {
      module = new M(cb, ctx, &log, pins);
      return module->Record();
    });
    host.AudioDispatch(OP_OPEN);
    log.clear();
    host.ClearTrace();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& call : log) names.push_back(call.name);
    return names;
  }
  int CountCallbacks(int32_t opcode) const {
    int n = 0;
    for (const auto& call : host.Callbacks()) n += call.opcode == opcode;
    return n;
  }
  std::vector<ProbeCall> log;  // outlives the host, which closes the module
  sehost::StandInHost host;
  sehost::AudioSchedule& schedule = host.schedule();
  ProbeModule* module = nullptr;
};

TEST_F(AudioEvents, AScheduledCallIsPostedAsARunFunctionEvent) {
  Create();
  schedule.SetSampleClock(40);
  const SEDeferredCall call = SEModule_base::MemberCall<&ProbeModule::Plain>();
  module->ScheduleCall(40, call);  // the current clock is accepted
  ASSERT_EQ(schedule.PendingEvents().size(), 1u);
  const SEEvent& posted = schedule.PendingEvents()[0];
  EXPECT_EQ(posted.time_stamp, 40u);
  EXPECT_EQ(posted.event_type, EVT_RUN_FUNCTION);
  EXPECT_EQ(posted.int_value1, 0);
  EXPECT_EQ(posted.int_value2, 0);
  EXPECT_EQ(posted.ptr_value, reinterpret_cast<intptr_t>(call));
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].opcode, HC_GET_SAMPLE_CLOCK);
  EXPECT_EQ(calls[1].opcode, HC_ADD_EVENT);
  EXPECT_EQ(calls[1].index, 0);
  EXPECT_EQ(calls[1].value, 0);
  EXPECT_EQ(calls[1].opt_bits, 0u);
}

TEST_F(AudioEvents, ScheduledCallsComeBackWhenDueAndRunTheObjectsOwnOverride) {
  Create<DerivedProbe>();
  module->SetProcessFunction(SEModule_base::ProcessFunction<&ProbeModule::Work>());
  schedule.SetSampleClock(100);
  module->ScheduleCall(103, SEModule_base::MemberCall<&ProbeModule::Plain>());
  module->ScheduleCall(106, SEModule_base::MemberCall<&ProbeModule::Overridden>());
  log.clear();
  schedule.RunBlock(8);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Work", "ProbeModule::Plain", "Work", "DerivedProbe::Overridden",
                                                "Work"}));
  // The runs split the block at the events: 3, 3 and 2 frames.
  EXPECT_EQ(log[0].a, 0);
  EXPECT_EQ(log[0].b, 3);
  EXPECT_EQ(log[2].a, 3);
  EXPECT_EQ(log[2].b, 3);
  EXPECT_EQ(log[4].a, 6);
  EXPECT_EQ(log[4].b, 2);
  EXPECT_EQ(schedule.sample_clock(), 108u);
  EXPECT_TRUE(schedule.PendingEvents().empty());
}

TEST_F(AudioEvents, ATimedMessageTakesTheLowSixteenBitsAsASignedValue) {
  Create();
  schedule.SetSampleClock(7);
  host.DeliverEvent(SEEvent{7, EVT_TIMED_MESSAGE, -12, 0x1234FFFF, 0, nullptr});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].name, "OnTimedMessage");
  EXPECT_EQ(log[0].a, 7);
  EXPECT_EQ(log[0].b, -12);
  EXPECT_EQ(module->m_extra, -1);
  host.DeliverEvent(SEEvent{7, EVT_TIMED_MESSAGE, 0, 0x7FFF8000, 0, nullptr});
  EXPECT_EQ(module->m_extra, -32768);
}

TEST_F(AudioEvents, APostedEventCarriesEveryFieldAsGivenAndANullLink) {
  Create();
  schedule.SetSampleClock(50);
  SEEvent as_posted{};
  sehost::Subscription copy = host.OnCallback([&](sehost::StandInHost&, const sehost::TraceEntry& call) {
    if (call.opcode == HC_ADD_EVENT) memcpy(&as_posted, call.ptr, sizeof as_posted);  // the module's own storage
  });
  memset(&as_posted.next, 0xA5, sizeof as_posted.next);
  module->AddEvent(57, 77, -5, 0x12345678, 0x0BADCAFE);
  EXPECT_EQ(as_posted.next, nullptr);
  ASSERT_EQ(schedule.PendingEvents().size(), 1u);
  for (const SEEvent& e : {as_posted, schedule.PendingEvents()[0]}) {
    EXPECT_EQ(e.time_stamp, 57u);
    EXPECT_EQ(e.event_type, 77);
    EXPECT_EQ(e.int_value1, -5);
    EXPECT_EQ(e.int_value2, 0x12345678);
    EXPECT_EQ(e.ptr_value, 0x0BADCAFE);
  }
}

TEST_F(AudioEvents, APinStatusEventReachesThePinItNamesAndStatusOneFallsBack) {
  Create({PinDecl(DR_IN, DT_FLOAT, 0), PinDecl(DR_IN, DT_FLOAT, 0), PinDecl(DR_IN, DT_FLOAT, 0)}, 3);
  host.DeliverEvent(SEEvent{0, EVT_PIN_STATUS, 1, 0, 2, nullptr});
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].name, "OnPinStatusChange");
  EXPECT_EQ(log[0].a, 2);  // pin 2
  EXPECT_EQ(log[0].b, 1);  // it saw status 1
  EXPECT_EQ(module->GetPin(2)->Status(), 0);
  host.DeliverEvent(SEEvent{0, EVT_PIN_STATUS, 2, 0, 0, nullptr});
  EXPECT_EQ(module->GetPin(0)->Status(), 2);
  EXPECT_EQ(module->GetPin(1)->Status(), 0);
  EXPECT_EQ(module->GetPin(2)->Status(), 0);
}

TEST_F(AudioEvents, APinStatusForNoBoundPinAndANullEventAreIgnored) {
  // The host reports three pins, but only one is declared: pins 1 and 2 stay unbound.
  Create({PinDecl(DR_IN, DT_FLOAT, 0)}, 3);
  for (intptr_t index : {intptr_t{-1}, intptr_t{1}, intptr_t{2}, intptr_t{3}, intptr_t{INT32_MAX}, intptr_t{INT32_MIN}}) {
    host.DeliverEvent(SEEvent{0, EVT_PIN_STATUS, 2, 0, index, nullptr});
  }
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(module->GetPin(0)->Status(), 0);
  host.audio()->event_function(host.audio()->module, nullptr);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(host.Callbacks().size(), 6u);  // one clock read per delivered event, none for the null one
}

TEST_F(AudioEvents, OtherEventTypesPassTheClockCheckAndDoNothing) {
  Create();
  schedule.SetSampleClock(9);
  host.DeliverEvent(SEEvent{9, 6, 1, 2, 3, nullptr});
  host.DeliverEvent(SEEvent{9, 1, 1, 2, 3, nullptr});
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(CountCallbacks(HC_GET_SAMPLE_CLOCK), 2);
  EXPECT_EQ(host.Callbacks().size(), 2u);
}

TEST_F(AudioEvents, ChoosingTheCurrentProcessFunctionAgainTellsTheHostNothing) {
  Create();
  const SEProcessMember work = SEModule_base::ProcessFunction<&ProbeModule::Work>();
  module->SetProcessFunction(work);
  module->SetProcessFunction(SEModule_base::ProcessFunction<&ProbeModule::Work>());
  EXPECT_EQ(CountCallbacks(HC_PROCESS_FUNCTION_CHANGED), 1);
  EXPECT_TRUE(module->GetProcessFunction() == work);

  module->SetProcessFunction(SEModule_base::ProcessFunction<&ProbeModule::Other>());
  EXPECT_EQ(CountCallbacks(HC_PROCESS_FUNCTION_CHANGED), 2);
  EXPECT_FALSE(module->GetProcessFunction() == work);
  host.CallProcess(5, 11);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].name, "Other");
  EXPECT_EQ(log[0].a, 5);
  EXPECT_EQ(log[0].b, 11);

  const auto change = host.Callbacks().back();
  EXPECT_EQ(change.opcode, HC_PROCESS_FUNCTION_CHANGED);
  EXPECT_EQ(change.index, 0);
  EXPECT_EQ(change.value, 0);
  EXPECT_EQ(change.ptr, nullptr);
}

// The host may read m_process_function through OP_GET_PROCESS_FUNCTION_INFO
// and call its code entry as it calls the record's entry.
TEST_F(AudioEvents, TheRecordsEntryIsTheCodeEntryOfTheCurrentProcessFunction) {
  Create();
  const auto* info = reinterpret_cast<const ProcessFunctionInfo*>(host.AudioDispatch(OP_GET_PROCESS_FUNCTION_INFO));
  auto member_words = [&] {
    uintptr_t words[2];
    memcpy(words, info->address, sizeof words);
    return std::vector<uintptr_t>{words[0], words[1]};
  };
  const uintptr_t idle_entry = member_words()[0];
  EXPECT_EQ(reinterpret_cast<uintptr_t>(host.audio()->process_function), idle_entry);
  module->SetProcessFunction(SEModule_base::ProcessFunction<&ProbeModule::Work>());
  const std::vector<uintptr_t> work = member_words();
  EXPECT_NE(work[0], idle_entry);
  EXPECT_EQ(work[1], 0u);  // no adjustment: the entry takes the module object itself
  EXPECT_EQ(reinterpret_cast<uintptr_t>(host.audio()->process_function), work[0]);
  reinterpret_cast<SEProcessEntry>(work[0])(host.audio()->module, 3, 9);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].name, "Work");
  EXPECT_EQ(log[0].a, 3);
  EXPECT_EQ(log[0].b, 9);
}

TEST_F(AudioEvents, AThrowingProcessFunctionEndsItsRunOnly) {
  class Throwing : public ProbeModule {
   public:
    using ProbeModule::ProbeModule;
    void Fail(int32_t offset, int32_t frames) {
      m_log->push_back({"Fail", offset, frames});
      throw std::runtime_error("process failed");
    }
  };
  Create<Throwing>();
  module->SetProcessFunction(SEModule_base::ProcessFunction<&Throwing::Fail>());
  schedule.RunBlock(4);
  schedule.RunBlock(4);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].name, "Fail");
  EXPECT_EQ(log[1].a, 0);
  EXPECT_EQ(log[1].b, 4);
  EXPECT_EQ(schedule.sample_clock(), 8u);
}

// A process function that posts timed messages during its first call at a
// planned clock, `ahead` frames past that clock, and logs each message's clock.
class PostingProbe : public ProbeModule {
 public:
  using ProbeModule::ProbeModule;
  void Post(int32_t offset, int32_t frames) {
    m_log->push_back({"Post", offset, frames});
    const uint32_t now = SampleClock();
    if (m_every_call || now == m_plan_at) {
      for (const auto& [ahead, value] : m_plan) AddEvent(now + ahead, EVT_TIMED_MESSAGE, value, 0, 0);
      m_plan_at = now - 1;
    }
  }
  void OnTimedMessage(uint32_t clock, int32_t value, int16_t) override {
    m_log->push_back({"Message", clock, value});
  }
  uint32_t m_plan_at = 0;
  bool m_every_call = false;
  std::vector<std::pair<uint32_t, int32_t>> m_plan;
};

TEST_F(AudioEvents, EventsPostedInsideTheirRunCutItAndComeBackAtTheirClock) {
  Create<PostingProbe>();
  auto* posting = static_cast<PostingProbe*>(module);
  posting->SetProcessFunction(SEModule_base::ProcessFunction<&PostingProbe::Post>());
  schedule.SetSampleClock(100);
  posting->m_plan_at = 100;
  posting->m_plan = {{3, 7}, {0, 2}, {3, 8}};
  schedule.RunBlock(8);
  posting->m_plan_at = 108;
  posting->m_plan = {{5, 9}};
  schedule.RunBlock(8);
  const std::vector<std::tuple<std::string, int64_t, int64_t>> expected = {
      {"Post", 0, 8}, {"Message", 100, 2},                      // cut at its start
      {"Post", 0, 3}, {"Message", 103, 7}, {"Message", 103, 8},  // posting order at one clock
      {"Post", 3, 5},
      {"Post", 0, 8}, {"Message", 113, 9},  // cut inside: the rest is processed again
      {"Post", 5, 3}};
  std::vector<std::tuple<std::string, int64_t, int64_t>> seen;
  for (const auto& call : log) seen.emplace_back(call.name, call.a, call.b);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(schedule.sample_clock(), 116u);
  EXPECT_TRUE(schedule.PendingEvents().empty());
}

TEST_F(AudioEvents, ARunThatPostsAtItsStartEveryTimeStillEndsTheBlock) {
  Create<PostingProbe>();
  auto* posting = static_cast<PostingProbe*>(module);
  posting->SetProcessFunction(SEModule_base::ProcessFunction<&PostingProbe::Post>());
  posting->m_every_call = true;
  posting->m_plan = {{0, 1}};
  schedule.RunBlock(4);
  std::vector<std::tuple<std::string, int64_t, int64_t>> seen;
  for (const auto& call : log) seen.emplace_back(call.name, call.a, call.b);
  const std::vector<std::tuple<std::string, int64_t, int64_t>> expected = {
      {"Post", 0, 4}, {"Message", 0, 1}, {"Post", 0, 4}, {"Message", 0, 1}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(schedule.sample_clock(), 4u);
  EXPECT_TRUE(schedule.PendingEvents().empty());
}

TEST_F(AudioEvents, TheIdleProcessFunctionDoesNothing) {
  Create();
  schedule.RunBlock(32);
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(host.Callbacks().empty());
  EXPECT_EQ(schedule.sample_clock(), 32u);
}

TEST_F(AudioEvents, ClockChecksCompareUnsignedAcrossTheMiddleOfTheRange) {
  Create();
  schedule.SetSampleClock(0x7FFFFFFFu);
  module->AddEvent(0x80000000u, EVT_TIMED_MESSAGE, 0, 0, 0);  // later, although negative as signed
  EXPECT_EQ(schedule.PendingEvents().size(), 1u);
  schedule.SetSampleClock(0x80000000u);
  EXPECT_DEATH(module->AddEvent(0x7FFFFFFFu, EVT_TIMED_MESSAGE, 0, 0, 0),
               AssertionPattern("p_time_stamp >= SampleClock()", kModuleFile));
  EXPECT_DEATH(module->ScheduleCall(5, SEModule_base::MemberCall<&ProbeModule::Plain>()),
               AssertionPattern("p_time_stamp >= SampleClock()", kModuleFile));
}

TEST_F(AudioEvents, AnEventAtAnotherClockIsAContractViolation) {
  Create();
  schedule.SetSampleClock(10);
  EXPECT_DEATH(host.DeliverEvent(SEEvent{11, 6, 0, 0, 0, nullptr}),
               AssertionPattern("e->time_stamp == SampleClock()", kModuleFile));
}

TEST_F(AudioEvents, APinStatusEventWithoutPinsIsAContractViolation) {
  Create();
  EXPECT_DEATH(host.DeliverEvent(SEEvent{0, EVT_PIN_STATUS, 2, 0, 0, nullptr}),
               AssertionPattern("m_pins != 0", kModuleFile));
}

// Halves made by the framework's factory, one keeping the framework's routing
// and one routing events itself.
class Routed : public SEModule_base {
 public:
  using SEModule_base::SEModule_base;
  bool GetPinProperties(int32_t index, SEPinProperties* p) override {
    if (index != 0) return false;
    p->direction = DR_IN;
    p->datatype = DT_FLOAT;
    return true;
  }
  void OnPinStatusChange(SEPin* pin) override { seen.push_back(pin->Status()); }
  std::vector<int32_t> seen;
};
class Hidden : public Routed {  // an override the framework cannot name: reached virtually
 public:
  using Routed::Routed;
  void OnTimedMessage(uint32_t, int32_t value, int16_t) override { seen.push_back(value); }

 private:
  void OnPinStatusChange(SEPin* pin) override { seen.push_back(100 + pin->Status()); }
};
class OwnRoute : public Routed {
 public:
  using Routed::Routed;
  void HandleEvent(SEEvent* e) override { seen.push_back(-e->int_value1); }
};

TEST(AudioEventEntry, TheFactoryRoutesDirectlyOnlyWhereTheClassKeepsTheFrameworksRouting) {
  sehost::StandInHost host;
  host.schedule().SetAudioPinCount(1, 64);
  host.CreateAudio([](SEHostCallback cb, int32_t ctx) { return static_cast<AudioRecord*>(SENewHalf<Routed>(cb, ctx)); });
  host.AudioDispatch(OP_OPEN);
  Routed* routed = static_cast<Routed*>(host.audio()->module);
  EXPECT_EQ(host.audio()->event_function, &SEModule_base::StaticRouteEvent<Routed>);
  host.DeliverEvent(SEEvent{0, EVT_PIN_STATUS, 1, 0, 0, nullptr});
  host.DeliverEvent(SEEvent{0, EVT_PIN_STATUS, 2, 0, 1, nullptr});  // no such pin: ignored
  host.audio()->event_function(routed, nullptr);
  EXPECT_EQ(routed->seen, std::vector<int32_t>{1});
  EXPECT_EQ(routed->GetPin(0)->Status(), 0);
  host.schedule().SetSampleClock(10);
  EXPECT_DEATH(host.DeliverEvent(SEEvent{11, 6, 0, 0, 0, nullptr}),
               AssertionPattern("e->time_stamp == SampleClock()", kModuleFile));

  sehost::StandInHost hidden_host;
  hidden_host.schedule().SetAudioPinCount(1, 64);
  hidden_host.CreateAudio([](SEHostCallback cb, int32_t ctx) { return static_cast<AudioRecord*>(SENewHalf<Hidden>(cb, ctx)); });
  hidden_host.AudioDispatch(OP_OPEN);
  EXPECT_EQ(hidden_host.audio()->event_function, &SEModule_base::StaticRouteEvent<Hidden>);
  hidden_host.DeliverEvent(SEEvent{0, EVT_PIN_STATUS, 1, 0, 0, nullptr});
  hidden_host.DeliverEvent(SEEvent{0, EVT_TIMED_MESSAGE, -7, 0, 0, nullptr});
  EXPECT_EQ(static_cast<Hidden*>(hidden_host.audio()->module)->seen, (std::vector<int32_t>{101, -7}));

  sehost::StandInHost own_host;
  own_host.CreateAudio([](SEHostCallback cb, int32_t ctx) { return static_cast<AudioRecord*>(SENewHalf<OwnRoute>(cb, ctx)); });
  EXPECT_EQ(own_host.audio()->event_function, &SEModule_base::StaticHandleEvent);
  own_host.DeliverEvent(SEEvent{0, EVT_PIN_STATUS, 2, 0, 0, nullptr});
  EXPECT_EQ(static_cast<OwnRoute*>(own_host.audio()->module)->seen, std::vector<int32_t>{-2});
}

}  // namespace
