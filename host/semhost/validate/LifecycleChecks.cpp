// A half's life as a host drives it: open, process, notify, close; the
// announcement of a new process function; events posted and handed back.

#include "Checks.h"

#include <string.h>

#include <algorithm>

#include "CheckTools.h"

namespace semhost {

namespace {

using sehost::Entry;
using sehost::Side;
using sehost::StandInHost;
using sehost::TraceEntry;

void CheckOpenProcessClose(CheckContext& ctx) {
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  const size_t orphans = host.orphan_callbacks();
  ctx.Phase("making and opening the audio half");
  AudioRecord* audio = session->CreateAudio();
  if (!audio) return ctx.Fail(MakeModuleCall(ctx.options().module_index, MT_AUDIO) + " answered null");
  const std::vector<SEPinProperties> pins = host.QueryPins();
  auto expect = [&ctx](const char* what, se_ret_t answer, se_ret_t want) {
    if (answer != want) {
      ctx.Fail(std::string(what) + " answered " + std::to_string(static_cast<long long>(answer)) + ", want " +
               std::to_string(static_cast<long long>(want)));
    }
  };
  expect("OP_SET_SAMPLE_RATE", host.AudioDispatch(OP_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f), 0);
  expect("OP_SET_BLOCK_SIZE", host.AudioDispatch(OP_SET_BLOCK_SIZE, 0, 256), 0);
  host.schedule().SetAudioPinCount(AudioPinCount(pins), 256);
  expect("OP_OPEN", host.AudioDispatch(OP_OPEN), 0);
  if (!audio->process_function) return ctx.Fail("process_function is null after OP_OPEN");
  ctx.Phase("processing 8 blocks of 256 frames");
  for (int i = 0; i < 8; ++i) host.schedule().RunBlock(256);
  expect("OP_NOTIFY", host.AudioDispatch(OP_NOTIFY), 0);
  ctx.Phase("closing the audio half");
  expect("OP_CLOSE", host.CloseAudio(), 1);

  ctx.Phase("making, opening and closing the GUI half");
  const bool has_gui = session->CreateGui() != nullptr;  // a module may make none
  if (has_gui) {
    expect("GUI_OP_OPEN", host.GuiDispatch(GUI_OP_OPEN, 1), 0);
    expect("GUI_OP_CLOSE", host.CloseGui(), 1);
  }
  for (const TraceEntry& e : host.Trace()) {
    if (e.IsCallback() && e.side == Side::kUnknown) {
      ctx.Fail("a callback (opcode " + std::to_string(e.opcode) + ") named no record the host holds");
      break;
    }
  }
  if (host.orphan_callbacks() != orphans) ctx.Fail("the module called the host outside any call into it");
  ctx.Note(std::string("OP_SET_SAMPLE_RATE, OP_SET_BLOCK_SIZE, OP_OPEN, 8 blocks, OP_NOTIFY and OP_CLOSE; ") +
           (has_gui ? "GUI_OP_OPEN and GUI_OP_CLOSE" : "no GUI half (makeModule answered null)"));
}

void CheckProcessFunction(CheckContext& ctx) {
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  AudioRecord* audio = session->CreateAudio();
  if (!audio) return ctx.Fail(MakeModuleCall(ctx.options().module_index, MT_AUDIO) + " answered null");
  const std::vector<SEPinProperties> pins = host.QueryPins();
  host.schedule().SetAudioPinCount(AudioPinCount(pins), 256);
  // At each announcement the record must already hold the new function.
  SEProcessEntry last = audio->process_function;
  int announcements = 0;
  bool stale = false;
  const sehost::Subscription watch = ctx.OnCallStarted([&](const TraceEntry& e, const StandInHost&) {
    if (e.IsCallback() && e.side == Side::kAudio && e.opcode == HC_PROCESS_FUNCTION_CHANGED) {
      ++announcements;
      if (audio->process_function == last) stale = true;
      last = audio->process_function;
    }
  });
  const SEProcessEntry before = audio->process_function;
  ctx.Phase("opening the audio half");
  host.AudioDispatch(OP_OPEN);
  const SEProcessEntry after = audio->process_function;
  const int on_open = announcements;
  if (after != before && on_open == 0) ctx.Fail("OP_OPEN switched process_function without HC_PROCESS_FUNCTION_CHANGED");
  if (after != before && on_open > 1) {
    ctx.Fail("OP_OPEN announced one switch " + std::to_string(on_open) + " times");
  }
  if (after == before && on_open > 0) {
    ctx.Fail("OP_OPEN sent HC_PROCESS_FUNCTION_CHANGED, but process_function is unchanged");
  }
  if (stale) ctx.Fail("HC_PROCESS_FUNCTION_CHANGED came before the record's process_function changed");
  ctx.Phase("processing after the switch");
  int changes = 0;
  SEProcessEntry current = audio->process_function;
  announcements = 0;
  for (int i = 0; i < 16 && host.audio(); ++i) {
    host.schedule().RunBlock(256);
    if (audio->process_function != current) ++changes;
    current = audio->process_function;
  }
  if (announcements < changes) ctx.Fail("process_function changed during processing without an announcement");
  if (announcements > changes) ctx.Fail("HC_PROCESS_FUNCTION_CHANGED sent during processing without a change");
  ctx.Note(after != before ? "OP_OPEN switched process_function and announced it once"
                           : "OP_OPEN kept the idle process function and announced nothing");
}

void CheckEvents(CheckContext& ctx) {
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  struct Posted {
    SEEvent event;
    uint32_t clock;
  };
  std::vector<Posted> posted;
  std::vector<SEEvent> delivered;
  // Ends before `posted` and `delivered`, and before the session's closing calls.
  const sehost::Subscription watch = ctx.OnCallStarted([&](const TraceEntry& e, const StandInHost& h) {
    if (e.IsCallback() && e.side == Side::kAudio && e.opcode == HC_ADD_EVENT && e.ptr) {
      SEEvent event;
      memcpy(&event, e.ptr, sizeof event);
      posted.push_back({event, h.schedule().sample_clock()});
    }
    if (e.entry == Entry::kEvent && e.ptr) {
      SEEvent event;
      memcpy(&event, e.ptr, sizeof event);
      delivered.push_back(event);
    }
  });
  ctx.Phase("opening the audio half and processing 32 blocks of 64 frames");
  std::string error;
  if (!session->StartAudio(&error)) return ctx.Fail(error);  // events concern the audio half alone
  for (int i = 0; i < 32 && host.audio(); ++i) host.schedule().RunBlock(64);
  if (posted.empty()) {
    ctx.Skip("the module posted no event while opening and processing 32 blocks of 64 frames");
    return;
  }
  const uint32_t end = host.schedule().sample_clock();
  size_t due = 0;
  for (const Posted& p : posted) {
    if (static_cast<int32_t>(p.event.time_stamp - p.clock) < 0) {
      ctx.Fail("an event was posted for clock " + std::to_string(p.event.time_stamp) + " at clock " +
               std::to_string(p.clock) + ": already past, it can never be due");
      continue;
    }
    if (p.event.next) ctx.Fail("a posted event has a non-null next field");
    if (static_cast<int32_t>(end - p.event.time_stamp) <= 0) continue;  // not due yet
    ++due;
    const bool back = std::any_of(delivered.begin(), delivered.end(), [&](const SEEvent& d) {
      return d.time_stamp == p.event.time_stamp && d.event_type == p.event.event_type &&
             d.int_value1 == p.event.int_value1 && d.int_value2 == p.event.int_value2;
    });
    if (!back) ctx.Fail("the event for clock " + std::to_string(p.event.time_stamp) + " did not come back");
  }
  ctx.Note(std::to_string(posted.size()) + " event(s) posted, " + std::to_string(due) +
           " due and handed back at their clock without a problem");
}

}  // namespace

const std::vector<Check>& LifecycleChecks() {
  static const std::vector<Check> checks = {
      {"lifecycle.open-process-close", "open, processing and close answer as the interface says, with no stray callback", CheckOpenProcessClose},
      {"lifecycle.process-function", "a switch of the process function is in the record first, then announced once", CheckProcessFunction},
      {"lifecycle.events", "events the module posts are not in the past and come back when due", CheckEvents},
  };
  return checks;
}

}  // namespace semhost
