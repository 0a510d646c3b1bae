// A host may close a half from inside one of the half's own host calls: the
// close answers 1 at once, the call it arrived in runs to its end on the live
// object, and the object is destroyed when the outermost call into it returns.
// A Close that throws still destroys the half.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "SEGUI_base.h"
#include "SEModule_base.h"
#include "StandInHost.h"
#include "probe_module.h"

namespace {

// An audio half whose process function and deferred call make a host call
// and then use the object.
class CallingAudio : public ProbeModule {
 public:
  using ProbeModule::ProbeModule;
  void Run(int32_t, int32_t) { AfterHostCall("process"); }
  void Deferred() { AfterHostCall("event"); }

 private:
  void AfterHostCall(const char* where) {
    SampleClock();
    m_log->push_back({std::string("after the host call in ") + where});
  }
};

// A GUI half that reads the pin it is told of, then uses the object.
class CallingGui : public SEGUI_base {
 public:
  CallingGui(SEHostCallback cb, int32_t ctx, std::vector<ProbeCall>* log) : SEGUI_base(cb, ctx), m_log(log) {}
  ~CallingGui() override { m_log->push_back({"~CallingGui"}); }
  void Close() override {
    m_log->push_back({"Close"});
    if (m_throw_in_close) throw std::runtime_error("close failed");
  }
  void OnPinValueChange(GuiPin* pin) override {
    pin->GetValueInt();
    m_log->push_back({"after the host call in OnPinValueChange"});
  }
  bool m_throw_in_close = false;

 private:
  std::vector<ProbeCall>* m_log;
};

class CloseDuringCall : public ::testing::Test {
 protected:
  void CreateAudio() {
    host.CreateAudio([this](SEHostCallback cb, int32_t ctx) {
      audio = new CallingAudio(cb, ctx, &log);
      return audio->Record();
    });
  }
  void CreateGui() {
    host.CreateGui([this](SEHostCallback cb, int32_t ctx) {
      gui = new CallingGui(cb, ctx, &log);
      return gui->Record();
    });
  }
  // From now on the host closes the half it holds inside the first callback
  // with `opcode`, keeping the close's answer.
  void CloseInside(int32_t opcode) {
    hook = host.OnCallback([this, opcode](sehost::StandInHost& h, const sehost::TraceEntry& call) {
      if (call.opcode != opcode || close_answer != -1) return;
      close_answer = call.side == sehost::Side::kGui ? h.CloseGui() : h.CloseAudio();
    });
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& call : log) names.push_back(call.name);
    return names;
  }

  std::vector<ProbeCall> log;  // outlives the host
  sehost::StandInHost host;
  sehost::Subscription hook;
  se_ret_t close_answer = -1;
  CallingAudio* audio = nullptr;
  CallingGui* gui = nullptr;
};

TEST_F(CloseDuringCall, AnAudioDispatcherCallEndsBeforeTheHalfIsDestroyed) {
  CreateAudio();
  CloseInside(HC_GET_PIN_COUNT);
  EXPECT_EQ(host.AudioDispatch(OP_OPEN), 0);
  EXPECT_EQ(close_answer, 1);
  // Open went on to walk the declarations after the close.
  EXPECT_EQ(Names(), (std::vector<std::string>{"Close", "GetPinProperties", "~ProbeModule"}));
  EXPECT_EQ(host.audio(), nullptr);
}

TEST_F(CloseDuringCall, AProcessFunctionEndsBeforeTheHalfIsDestroyed) {
  CreateAudio();
  audio->SetProcessFunction(SEModule_base::ProcessFunction<&CallingAudio::Run>());
  CloseInside(HC_GET_SAMPLE_CLOCK);
  host.CallProcess(0, 16);
  EXPECT_EQ(close_answer, 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Close", "after the host call in process", "~ProbeModule"}));
}

TEST_F(CloseDuringCall, AnEventEndsBeforeTheHalfIsDestroyed) {
  CreateAudio();
  const SEDeferredCall call = SEModule_base::MemberCall<&CallingAudio::Deferred>();
  CloseInside(HC_GET_SAMPLE_CLOCK);  // the event entry's clock check
  host.DeliverEvent(SEEvent{0, EVT_RUN_FUNCTION, 0, 0, reinterpret_cast<intptr_t>(call), nullptr});
  EXPECT_EQ(close_answer, 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Close", "after the host call in event", "~ProbeModule"}));
}

TEST_F(CloseDuringCall, AGuiCallEndsBeforeTheHalfIsDestroyed) {
  CreateGui();
  CloseInside(GUI_HC_GET_PIN_VALUE);
  EXPECT_EQ(host.GuiDispatch(GUI_OP_PIN_VALUE_CHANGE, 1), 0);
  EXPECT_EQ(close_answer, 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Close", "after the host call in OnPinValueChange", "~CallingGui"}));
  EXPECT_EQ(host.gui(), nullptr);
}

TEST_F(CloseDuringCall, AThrowingGuiCloseStillDestroysTheHalfAndAnswersOne) {
  CreateGui();
  gui->m_throw_in_close = true;
  EXPECT_EQ(host.CloseGui(), 1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Close", "~CallingGui"}));
  EXPECT_EQ(host.gui(), nullptr);
}

}  // namespace
