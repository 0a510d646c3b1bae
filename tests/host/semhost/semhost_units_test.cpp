// semhost's parts on their own: the chart writer, number and list reading,
// the floating-point environment, the child runner, and the stand-in host's
// completion listener and RunAsCall that semhost is built on.

#include <fenv.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>

#include "ChildRunner.h"
#include "CrashReporter.h"
#include "Evaluator.h"
#include "FpEnvironment.h"
#include "GuiModule.h"
#include "ModuleEntry.h"
#include "ModuleInfo.h"
#include "StandInHost.h"
#include "SvgPlot.h"
#include "Text.h"
#include "Tracer.h"

namespace {

using semhost::SvgPlot;

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(SvgPlot, TicksFallOnOneTwoOrFiveTimesAPowerOfTen) {
  EXPECT_EQ(SvgPlot::Ticks(0.0, 1.0, 5), (std::vector<double>{0.0, 0.2, 0.4, 0.6000000000000001, 0.8, 1.0}));
  EXPECT_EQ(SvgPlot::Ticks(-1.5, 1.5, 6), (std::vector<double>{-1.5, -1.0, -0.5, 0.0, 0.5, 1.0, 1.5}));
  EXPECT_EQ(SvgPlot::Ticks(3.0, 97.0, 4), (std::vector<double>{20.0, 40.0, 60.0, 80.0}));
  EXPECT_TRUE(SvgPlot::Ticks(1.0, 1.0).empty());
  EXPECT_TRUE(SvgPlot::Ticks(0.0, INFINITY).empty());
}

TEST(SvgPlot, NonFinitePointsBreakTheLineInsteadOfBeingDrawn) {
  SvgPlot plot;
  plot.SetTitle("a <b> & c");
  plot.AddSeries("gappy", {{0, 0}, {1, 1}, {2, NAN}, {3, 3}, {4, 4}, {5, INFINITY}, {6, 6}});
  plot.AddSeries("whole", {{0, 1}, {6, 1}});
  const std::string svg = plot.Render();
  EXPECT_EQ(plot.OmittedPoints(), 2u);
  EXPECT_EQ(Count(svg, "<polyline"), 3u);  // gappy: 0-1 and 3-4; whole: one
  EXPECT_EQ(Count(svg, "<circle"), 1u);    // the lone point at x = 6
  EXPECT_NE(svg.find(">a &lt;b&gt; &amp; c</text>"), std::string::npos);
  EXPECT_NE(svg.find(">gappy</text>"), std::string::npos);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
}

TEST(SvgPlot, AFixedYRangeLeavesOutWhatFallsOutside) {
  SvgPlot plot;
  plot.SetYRange(-2.0, 2.0);
  plot.AddSeries("tan", {{0, 0}, {1, 1.5}, {1.5, 14.1}, {2, -2.2}, {3, -0.1}});
  EXPECT_EQ(plot.OmittedPoints(), 2u);
  EXPECT_EQ(Count(plot.Render(), "<polyline"), 1u);
}

TEST(Text, NumbersReadWholeAndWriteShortest) {
  double d = 0;
  EXPECT_TRUE(semhost::ParseDouble("-1.5e3", &d));
  EXPECT_EQ(d, -1500.0);
  EXPECT_TRUE(semhost::ParseDouble("nan", &d));
  EXPECT_TRUE(std::isnan(d));
  for (const char* bad : {"", " 1", "1 ", "1x", "abc", "1e999"}) EXPECT_FALSE(semhost::ParseDouble(bad, &d)) << bad;
  int32_t i = 0;
  EXPECT_TRUE(semhost::ParseInt32("-2147483648", &i));
  EXPECT_EQ(i, INT32_MIN);
  EXPECT_FALSE(semhost::ParseInt32("2147483648", &i));
  EXPECT_FALSE(semhost::ParseInt32("3.0", &i));
  EXPECT_EQ(semhost::FormatFloat(0.1f), "0.100000001");
  EXPECT_EQ(semhost::FormatFloat(-22877332.0f), "-22877332");
  EXPECT_EQ(semhost::FormatFloat(-NAN), "nan");
  EXPECT_EQ(semhost::FormatFloat(-INFINITY), "-inf");
  EXPECT_EQ(semhost::FormatDouble(0.1), "0.1");
}

TEST(Text, ModuleTextsBecomePrintableUtf8) {
  EXPECT_EQ(semhost::Printable("caf\xE9 \x80 5\x9D"), "café € 5\\x9D");
  EXPECT_EQ(semhost::Printable("a\nb\tc\x01"), "a\\nb\\tc\\x01");
  EXPECT_EQ(semhost::Printable("a\nb", true), "a\nb");
  EXPECT_EQ(semhost::Printable(nullptr), "(null)");
}

TEST(Sweep, ParsesItsSpecAndHitsBothEndsExactly) {
  semhost::SweepRange sweep_range;
  std::string error;
  ASSERT_TRUE(semhost::ParseSweep("X=-1:0.1:12", &sweep_range, &error)) << error;
  EXPECT_EQ(sweep_range.pin, "X");
  const std::vector<float> values = semhost::SweepValues(sweep_range);
  ASSERT_EQ(values.size(), 12u);
  EXPECT_EQ(values.front(), -1.0f);
  EXPECT_EQ(values.back(), 0.1f);
  ASSERT_TRUE(semhost::ParseSweep("Y=0:1:5", &sweep_range, &error)) << error;
  EXPECT_EQ(semhost::SweepValues(sweep_range), (std::vector<float>{0.0f, 0.25f, 0.5f, 0.75f, 1.0f}));
  sweep_range.count = 1;
  EXPECT_EQ(semhost::SweepValues(sweep_range), std::vector<float>{0.0f});
  for (const char* bad : {"X", "=0:1:2", "X=0:1", "X=0:1:2:3", "X=a:1:2", "X=0:inf:2", "X=0:1:-1", "X=0:1:1.5"}) {
    EXPECT_FALSE(semhost::ParseSweep(bad, &sweep_range, &error)) << bad;
  }
}

TEST(EnumerationChoices, ReadPlainListsAndRangesAsTheFrameworkDoes) {
  semhost::PinInfo pin;
  pin.datatype = DT_ENUM;
  semhost::ReadChoices("a=5, b ,c=-2", &pin);
  ASSERT_EQ(pin.choices.size(), 3u);
  EXPECT_EQ(pin.choices[1].text, "b");
  EXPECT_EQ(pin.choices[1].value, 6);
  EXPECT_EQ(pin.choices[2].value, -2);
  semhost::ReadChoices("range -3,-1", &pin);
  EXPECT_TRUE(pin.is_range);
  EXPECT_EQ(pin.range_lo, -3);
  EXPECT_EQ(pin.range_hi, -1);
  EXPECT_EQ(pin.choice_count, 3);
  semhost::ReadChoices("range -2147483648,2147483647", &pin);
  EXPECT_EQ(pin.choice_count, 4294967296LL);
  EXPECT_EQ(pin.choices.size(), semhost::kMaxChoices);
  // A text the framework's reader would stop the process on is refused in order.
  semhost::ReadChoices("range 5", &pin);
  EXPECT_EQ(pin.list_problem, "a range needs \"range lo,hi\": a comma after its sixth character");
  semhost::ReadChoices(nullptr, &pin);
  EXPECT_EQ(pin.list_problem, "no list (datatype_extra is null)");

  semhost::ModuleInfo info;
  semhost::ReadChoices("range 1,5", &pin);
  pin.name = "Level";
  std::string error;
  uint32_t bits = 0;
  EXPECT_TRUE(info.ParseValue(pin, "5", &bits, &error));
  EXPECT_EQ(bits, 5u);
  EXPECT_FALSE(info.ParseValue(pin, "6", &bits, &error));
  EXPECT_EQ(info.FormatValue(pin, 4), "4 (4)");
  EXPECT_EQ(info.FormatValue(pin, 9), "9 (not a choice)");
}

TEST(FpEnvironment, ReportsWhatAChangeTouched) {
  const semhost::FpEnvironment original = semhost::FpEnvironment::Capture();
  const semhost::FpEnvironment unusual = semhost::FpEnvironment::Unusual();
  ASSERT_NE(unusual, original);
  unusual.Apply();
  EXPECT_EQ(semhost::FpEnvironment::Capture(), unusual);
  original.Apply();
  EXPECT_EQ(semhost::FpEnvironment::Capture(), original);
  semhost::FpEnvironment upward = original;
  upward.rounding = FE_UPWARD;
  EXPECT_EQ(semhost::FpEnvironment::Difference(original, upward), "rounding mode upward (was to nearest)");
#if defined(__i386__) || defined(__x86_64__)
  semhost::FpEnvironment ftz = original;
  ftz.mxcsr |= 0x8000;
  ftz.x87 = static_cast<uint16_t>(ftz.x87 & ~0x0001);
  EXPECT_EQ(semhost::FpEnvironment::Difference(original, ftz),
            "MXCSR 0x9F80 (was 0x1F80: flush-to-zero); x87 control word 0x037E (was 0x037F: exception masks)");
#endif
}

TEST(ChildRunner, TellsHowAChildEnded) {
  const semhost::ChildRunner shell("/bin/sh");
  const semhost::ChildResult exited = shell.Run({"-c", "echo out; echo err >&2; exit 5"}, 10000);
  EXPECT_EQ(exited.end, semhost::ChildResult::End::kExited);
  EXPECT_EQ(exited.exit_code, 5);
  EXPECT_EQ(exited.out, "out\n");
  EXPECT_EQ(exited.err, "err\n");

  const semhost::ChildResult crashed = shell.Run({"-c", "kill -SEGV $$"}, 10000);
  EXPECT_EQ(crashed.end, semhost::ChildResult::End::kSignaled);
  EXPECT_EQ(crashed.signal, SIGSEGV);
  EXPECT_EQ(semhost::ChildRunner::SignalName(crashed.signal), "SIGSEGV (segmentation fault)");

  // Asked to stop (SIGUSR1) after the limit, then killed if it does not.
  const semhost::ChildResult hung = shell.Run({"-c", "trap '' USR1; while :; do :; done"}, 200);
  EXPECT_EQ(hung.end, semhost::ChildResult::End::kTimedOut);
  EXPECT_LT(hung.seconds, 5.0);

  const semhost::ChildResult missing = semhost::ChildRunner("/no/such/program").Run({}, 1000);
  EXPECT_EQ(missing.end, semhost::ChildResult::End::kNotStarted);
  EXPECT_EQ(missing.start_error, "cannot run /no/such/program: No such file or directory");
}

TEST(ChildRunner, FindsItsOwnProgramFromArgv0) {
  // As the program was started: with a path (made absolute), or by name through PATH.
  EXPECT_EQ(semhost::ChildRunner::SelfPath("/bin/../bin/sh").front(), '/');
  EXPECT_EQ(semhost::ChildRunner::SelfPath("/bin/../bin/sh").find(".."), std::string::npos);
  const char* path = getenv("PATH");
  const std::string saved = path ? path : "";
  setenv("PATH", "/no/such/dir:/bin", 1);
  const std::string found = semhost::ChildRunner::SelfPath("sh");
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(found.front(), '/') << found;
  EXPECT_EQ(found.find("/no/such"), std::string::npos) << found;
  EXPECT_EQ(access(found.c_str(), X_OK), 0) << found;
}

TEST(StandInHostCompletion, ListenersSeeEachCallReturnInnermostFirstWithItsAnswer) {
  sehost::StandInHost host;
  std::vector<std::string> events;
  const sehost::Subscription started =
      host.OnCall([&](const sehost::TraceEntry& e) { events.push_back("start " + std::to_string(e.opcode)); });
  const sehost::Subscription returned = host.OnReturn([&](const sehost::TraceEntry& e) {
    events.push_back("return " + std::to_string(e.opcode) + " = " + std::to_string(static_cast<long long>(e.result)));
  });
  host.SetPinFloat(1, 0.5f);
  host.SetPinDatatype(2, DT_FLOAT);
  ASSERT_NE(host.CreateGui(makeModule), nullptr);
  events.clear();
  host.NotifyGui(1);
  EXPECT_EQ(events, (std::vector<std::string>{"start 7", "start 14", "return 14 = 0", "start 14", "return 14 = 0",
                                              "start 15", "return 15 = 0", "return 7 = 0"}));
}

TEST(StandInHostCompletion, RunAsCallAnswersCallbacksOfARecordNotYetHeld) {
  sehost::StandInHost host;
  host.SetPinInt(0, 3);
  void* record = nullptr;
  host.RunAsCall([&] { record = makeModule(0, 2, &sehost::StandInHost::seaudioMaster, 1); });
  ASSERT_NE(record, nullptr);
  const std::vector<sehost::TraceEntry> calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].depth, 1);
  EXPECT_EQ(calls[0].record, record);
  EXPECT_EQ(host.orphan_callbacks(), 0u);
  static_cast<GuiRecord*>(record)->dispatcher(static_cast<GuiRecord*>(record), GUI_OP_CLOSE, 0, 0, nullptr, 0.0f);
}

TEST(TracerFormat, DescribesAnEntryWithoutAddresses) {
  std::vector<std::string> lines;
  semhost::Tracer tracer([&](const std::string& line) { lines.push_back(line); });
  sehost::StandInHost host;
  host.SetPinFloat(1, 0.25f);
  host.SetPinDatatype(1, DT_FLOAT);
  const auto observation = tracer.Observe(host);
  tracer.LibraryCallStarted("makeModule index=0 type=2");
  host.CreateGui(makeModule);
  tracer.LibraryCallReturned("gui");
  host.GuiDispatch(42, -1, 7, &lines, 1.5f);
  EXPECT_EQ(lines, (std::vector<std::string>{"host→lib   makeModule index=0 type=2",
                                             "  gui→host   GUI_HC_GET_PIN_VALUE index=0 → 0",
                                             "  gui→host   GUI_HC_GET_PIN_VALUE index=1 → 0.25",
                                             "host←lib   makeModule → gui",
                                             "host→gui   GUI opcode 42 (outside the interface) index=-1 value=7 "
                                             "ptr=non-null opt=1.5 → 0"}));
}

TEST(TracerFormat, NestsReentrantCallsAndGivesReturnLines) {
  std::vector<std::string> lines;
  semhost::Tracer tracer([&](const std::string& line) { lines.push_back(line); });
  sehost::StandInHost host;
  host.SetPinDatatype(1, DT_FLOAT);
  host.SetPinDatatype(2, DT_FLOAT);
  host.SetPinFloat(1, 2.0f);
  host.SetPinInt(0, 2);
  host.CreateGui(makeModule);
  const auto observation = tracer.Observe(host);
  bool once = true;
  const sehost::Subscription hook = host.OnCallback([&once](sehost::StandInHost& h, const sehost::TraceEntry& e) {
    if (once && e.opcode == GUI_HC_SET_PIN_VALUE) {
      once = false;
      h.NotifyGui(1);  // dropped by the module: it is busy
    }
  });
  host.NotifyGui(0);
  EXPECT_EQ(lines, (std::vector<std::string>{"host→gui   GUI_OP_PIN_VALUE_CHANGE index=0",
                                             "  gui→host   GUI_HC_GET_PIN_VALUE index=0 → 2",
                                             "  gui→host   GUI_HC_GET_PIN_VALUE index=1 → 2",
                                             "  gui→host   GUI_HC_SET_PIN_VALUE index=2 value=0 opt=1.41421354 → 0",
                                             "    host→gui   GUI_OP_PIN_VALUE_CHANGE index=1 → 0",
                                             "host←gui   GUI_OP_PIN_VALUE_CHANGE → 0"}));
}

TEST(TracerFormat, ShowsProcessEventsAndWhatPointersHold) {
  std::vector<std::string> lines;
  semhost::Tracer tracer([&](const std::string& line) { lines.push_back(line); });
  sehost::StandInHost host;
  host.CreateAudio(makeModule);
  const auto observation = tracer.Observe(host);
  host.AudioDispatch(OP_OPEN);
  host.CallProcess(0, 64);
  host.DeliverEvent(SEEvent{0, 6, 1, 2, 0, nullptr});
  host.AudioDispatch(OP_GET_PROCESS_FUNCTION_INFO);
  const std::string size = std::to_string(sizeof(void*) == 4 ? 8 : 16);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "host→audio OP_OPEN",
                       "  audio→host HC_PROCESS_FUNCTION_CHANGED → 0",
                       "  audio→host HC_GET_PIN_COUNT → 0",
                       "host←audio OP_OPEN → 0",
                       "host→audio process offset=0 frames=64",
                       "  audio→host audio callback 10 → 0",
                       "host←audio process",
                       "host→audio event time=0 event type 6 value1=1 value2=2",
                       "  audio→host HC_GET_SAMPLE_CLOCK → 0",
                       "host←audio event",
                       "host→audio OP_GET_PROCESS_FUNCTION_INFO → {kind=1 size=" + size + " address=non-null tag=1002}",
                   }));
}

TEST(CrashReporter, NamesThePhaseAndTheInnermostCallNotReturned) {
  semhost::CrashReporter crumbs;
  sehost::StandInHost host;
  semhost::CrashReporter::SetPhase("testing");
  crumbs.LibraryCallStarted("makeModule index=0 type=2");
  EXPECT_EQ(semhost::CrashReporter::Where(), "while testing; in makeModule index=0 type=2");
  sehost::TraceEntry callback{sehost::Side::kGui, sehost::Entry::kCallback, nullptr, GUI_HC_GET_PIN_VALUE, 1, 0,
                              nullptr, 0, 0, 1};
  crumbs.CallStarted(callback, host);
  EXPECT_EQ(semhost::CrashReporter::Where(), "while testing; in gui→host GUI_HC_GET_PIN_VALUE index=1 value=0");
  crumbs.CallReturned(callback, host);
  EXPECT_EQ(semhost::CrashReporter::Where(), "while testing; in makeModule index=0 type=2");
  crumbs.LibraryCallReturned("gui");
  semhost::CrashReporter::SetStep(12);
  EXPECT_EQ(semhost::CrashReporter::Where(),
            "while testing, step 12; outside any call, the last was gui→host GUI_HC_GET_PIN_VALUE index=1 value=0");
}

}  // namespace
