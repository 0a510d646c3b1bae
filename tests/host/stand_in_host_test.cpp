// The stand-in host as a host-side proxy: any number of scoped subscribers,
// each half's state, calls to a half that is not there refused with a
// message, answers a caller overrides, and orphan callbacks charged to a host
// rather than to the process.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GuiRecord.h"
#include "ModuleEntry.h"
#include "SEModule_base.h"
#include "StandInHost.h"

namespace {

using sehost::HalfState;
using sehost::StandInHost;
using sehost::Subscription;
using sehost::TraceEntry;

TEST(StandInHostSubscribers, EverySubscriberSeesEachCallInOrderUntilItsSubscriptionEnds) {
  StandInHost host;
  host.CreateGui(makeModule);
  std::vector<std::string> seen;
  const Subscription first = host.OnCall([&](const TraceEntry& e) { seen.push_back("a" + std::to_string(e.opcode)); });
  {
    const Subscription second = host.OnCall([&](const TraceEntry& e) { seen.push_back("b" + std::to_string(e.opcode)); });
    host.GuiDispatch(42);
  }
  host.GuiDispatch(43);
  EXPECT_EQ(seen, (std::vector<std::string>{"a42", "b42", "a43"}));
}

TEST(StandInHostSubscribers, AHookEndingItselfIsNotCalledAgainAndMayOutliveTheHost) {
  Subscription hook;
  int calls = 0;
  {
    StandInHost host;
    host.CreateGui(makeModule);
    hook = host.OnCallback([&](StandInHost&, const TraceEntry&) {
      ++calls;
      hook.Cancel();
    });
    host.NotifyGui(1);  // three callbacks; the hook sees the first only
  }
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(hook.active());
}

TEST(StandInHostSubscribers, AnOverriddenAnswerReplacesTheHostsAndSkipsWhatTheHostWouldKeep) {
  StandInHost host;
  host.CreateGui(makeModule);  // Mode 0 (cos), X 0: Result 1
  {
    const Subscription first = host.OverrideAnswer([](const TraceEntry& call, void*, sehost::CallbackAnswer& answer) {
      if (call.opcode == GUI_HC_SET_PIN_VALUE) answer.Give(5);
    });
    const Subscription later = host.OverrideAnswer([](const TraceEntry& call, void*, sehost::CallbackAnswer& answer) {
      if (call.opcode == GUI_HC_SET_PIN_VALUE && answer.given) answer.Give(answer.value + 1);
    });
    host.NotifyGui(1);
  }
  const std::vector<TraceEntry> calls = host.Callbacks();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().opcode, GUI_HC_SET_PIN_VALUE);
  EXPECT_EQ(calls.back().result, 6);
  EXPECT_EQ(host.PinBits(2), 0u);  // the host kept nothing
  host.NotifyGui(1);
  EXPECT_EQ(host.PinFloat(2), 1.0f);  // the host's own answer again
}

TEST(StandInHostState, EachHalfGoesFromMadeToOpenedToClosed) {
  StandInHost host;
  EXPECT_EQ(host.gui_state(), HalfState::kNone);
  host.CreateGui(makeModule);
  EXPECT_EQ(host.gui_state(), HalfState::kMade);
  host.GuiDispatch(GUI_OP_OPEN, 1);
  EXPECT_EQ(host.gui_state(), HalfState::kOpened);
  EXPECT_EQ(host.CloseGui(), 1);
  EXPECT_EQ(host.gui_state(), HalfState::kClosed);
  host.CreateAudio([](SEHostCallback callback, int32_t context) {
    return static_cast<AudioRecord*>(makeModule(0, 3, callback, context));
  });
  EXPECT_EQ(host.audio_state(), HalfState::kRefused);
  EXPECT_EQ(host.refused_calls(), 0u);
}

TEST(StandInHostState, ClosingTheAudioHalfDropsTheEventsItPosted) {
  struct Poster : SEModule_base {
    using SEModule_base::SEModule_base;
    void Open() override { AddEvent(5, EVT_TIMED_MESSAGE, 0, 0, 0); }
  };
  StandInHost host;
  host.CreateAudio([](SEHostCallback callback, int32_t context) { return (new Poster(callback, context))->Record(); });
  host.AudioDispatch(OP_OPEN);
  EXPECT_EQ(host.schedule().PendingEvents().size(), 1u);
  host.CloseAudio();
  EXPECT_TRUE(host.schedule().PendingEvents().empty());  // a later half never receives them
}

TEST(StandInHostState, CallsToAHalfThatIsNotThereAreRefusedWithAMessage) {
  StandInHost host;
  EXPECT_EQ(host.GuiDispatch(GUI_OP_PIN_VALUE_CHANGE, 1), 0);
  EXPECT_EQ(host.last_refusal(), "GuiDispatch(opcode 7) refused: the GUI half is never made");
  host.CreateAudio(makeModule);
  host.CloseAudio();
  const size_t traced = host.Trace().size();
  host.CallProcess(0, 64);
  EXPECT_EQ(host.last_refusal(), "CallProcess refused: the audio half is closed");
  EXPECT_EQ(host.AudioDispatch(OP_OPEN), 0);
  EXPECT_EQ(host.last_refusal(), "AudioDispatch(opcode 0) refused: the audio half is closed");
  EXPECT_EQ(host.refused_calls(), 3u);
  // Closing what is not open is no refusal, and nothing refused reached the trace.
  EXPECT_EQ(host.CloseGui(), 0);
  EXPECT_EQ(host.refused_calls(), 3u);
  EXPECT_EQ(host.Trace().size(), traced);
}

TEST(StandInHostOrphans, ACallbackNoHostCanAnswerIsChargedToTheHostThatCalledLast) {
  StandInHost idle;
  StandInHost caller;
  caller.CreateGui(makeModule);
  int32_t value = 0;
  EXPECT_EQ(StandInHost::seaudioMaster(&value, GUI_HC_GET_PIN_VALUE, 0, 0, &value, 0.0f), 0);
  EXPECT_EQ(caller.orphan_callbacks(), 1u);
  EXPECT_EQ(idle.orphan_callbacks(), 0u);
}

}  // namespace
