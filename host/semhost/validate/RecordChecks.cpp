// The records makeModule answers: their fixed fields, the halves it refuses,
// and the record every callback names.

#include "Checks.h"

#include <string.h>

#include <algorithm>

#include "CheckTools.h"
#include "SeededRandom.h"

namespace semhost {

namespace {

using sehost::StandInHost;
using sehost::TraceEntry;
using setest::SeededRandom;

void CheckAudioRecord(CheckContext& ctx) {
  auto session = ctx.NewSession(0x00C0FFEE);
  ctx.Phase("making the audio half");
  AudioRecord* record = session->CreateAudio();
  if (!record) {
    ctx.Fail(MakeModuleCall(ctx.options().module_index, MT_AUDIO) + " answered null");
    return;
  }
  if (memcmp(record->magic, "LPES", 4) != 0) {
    char got[40];
    snprintf(got, sizeof got, "%02X %02X %02X %02X", static_cast<unsigned char>(record->magic[0]),
             static_cast<unsigned char>(record->magic[1]), static_cast<unsigned char>(record->magic[2]),
             static_cast<unsigned char>(record->magic[3]));
    ctx.Fail(std::string("magic is ") + got + ", want \"LPES\" (4C 50 45 53)");
  }
  if (record->version != 1) ctx.Fail("version is " + std::to_string(record->version) + ", want 1");
  if (record->host_context != 0x00C0FFEE) ctx.Fail("host_context does not hold the host's value");
  if (!record->module) ctx.Fail("module is null");
  if (!record->dispatcher) ctx.Fail("dispatcher is null");
  if (!record->process_function) ctx.Fail("process_function is null");
  if (!record->event_function) ctx.Fail("event_function is null");
  if (record->reserved1 != 0) ctx.Fail("the reserved word at offset 16 is not 0");
  for (int32_t word : record->reserved2) {
    if (word != 0) {
      ctx.Fail("a reserved word after event_function is not 0");
      break;
    }
  }
  if (!record->dispatcher) return;
  ctx.Phase("closing the audio half");
  const se_ret_t closed = session->host().CloseAudio();
  if (closed != 1) ctx.Fail("OP_CLOSE answered " + std::to_string(static_cast<long long>(closed)) + ", want 1");
  ctx.Note("\"LPES\", version 1, host_context kept, every entry set; OP_CLOSE answered 1");
}

void CheckGuiRecord(CheckContext& ctx) {
  auto session = ctx.NewSession(0x00C0FFEE);
  ctx.Phase("making the GUI half");
  GuiRecord* record = session->CreateGui();
  if (!record) {
    ctx.Skip("the module makes no GUI half: " + MakeModuleCall(ctx.options().module_index, MT_GUI) + " answered null");
    return;
  }
  if (memcmp(record->magic, "MPES", 4) != 0) {
    char got[40];
    snprintf(got, sizeof got, "%02X %02X %02X %02X", static_cast<unsigned char>(record->magic[0]),
             static_cast<unsigned char>(record->magic[1]), static_cast<unsigned char>(record->magic[2]),
             static_cast<unsigned char>(record->magic[3]));
    ctx.Fail(std::string("magic is ") + got + ", want \"MPES\" (4D 50 45 53)");
  }
  if (record->version != 1) ctx.Fail("version is " + std::to_string(record->version) + ", want 1");
  if (record->host_context != 0x00C0FFEE) ctx.Fail("host_context does not hold the host's value");
  if (!record->module) ctx.Fail("module is null");
  if (!record->dispatcher) {
    ctx.Fail("dispatcher is null");
    return;
  }
  for (int32_t word : record->reserved) {
    if (word != 0) {
      ctx.Fail("a reserved word is not 0");
      break;
    }
  }
  ctx.Phase("closing the GUI half");
  const se_ret_t closed = session->host().CloseGui();
  if (closed != 1) ctx.Fail("GUI_OP_CLOSE answered " + std::to_string(static_cast<long long>(closed)) + ", want 1");
  ctx.Note("\"MPES\", version 1, host_context kept, dispatcher set; GUI_OP_CLOSE answered 1");
}

void CheckRefusedHalves(CheckContext& ctx) {
  const int32_t index = ctx.options().module_index;
  struct Request {
    int32_t index;
    int32_t type;
  };
  // Types outside the table, next to its ends and far from them; then every
  // type of the table for indices no library holds.
  int32_t first = kHalfTypeTable[0].value, last = first;
  for (const SECode& row : kHalfTypeTable) {
    first = std::min(first, row.value);
    last = std::max(last, row.value);
  }
  std::vector<Request> requests;
  for (int32_t type : {first - 1, last + 1, -1, 1000, kMinInt}) {
    if (!InTable(kHalfTypeTable, type)) requests.push_back({index, type});
  }
  for (int32_t module : {-1, kMaxInt}) {
    for (const SECode& row : kHalfTypeTable) requests.push_back({module, row.value});
  }
  int refused = 0;
  ctx.Phase("asking makeModule for halves that do not exist");
  for (const Request& request : requests) {
    StandInHost host;
    const CallObserver::Observation watch = ctx.Observe(host);
    void* made = nullptr;
    host.RunAsCall([&] { made = ctx.library().makeModule()(request.index, request.type, &StandInHost::seaudioMaster, 7); });
    const std::string call = MakeModuleCall(request.index, request.type);
    if (made) ctx.Fail(call + " made something; want null");
    if (!host.Callbacks().empty()) {
      ctx.Fail(call + " called the host " + std::to_string(host.Callbacks().size()) + " time(s); want none");
    }
    refused += made ? 0 : 1;
  }
  ctx.Note(std::to_string(refused) + " requests for unknown types and modules answered null without a host call");
}

void CheckCallbackAddress(CheckContext& ctx) {
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  ctx.Phase("running both halves");
  AudioRecord* audio = session->CreateAudio();
  if (!audio) return ctx.Fail(MakeModuleCall(ctx.options().module_index, MT_AUDIO) + " answered null");
  const std::vector<PinInfo> pins = Describe(host.QueryPins());
  host.schedule().SetAudioPinCount(AudioPinCount(host.QueryPins()), 256);
  host.AudioDispatch(OP_OPEN);
  for (int i = 0; i < 4; ++i) host.schedule().RunBlock(256);
  const size_t gui_start = host.Trace().size();
  GuiRecord* gui = session->CreateGui();
  const size_t gui_end = host.Trace().size();
  SeededRandom random(ctx.options().seed);
  if (gui) {
    for (const PinInfo* pin : SettableInputs(pins)) session->Change(pin->index, SomeValue(*pin, random));
  }
  // Every callback names the record of the half whose call it runs in; a
  // callback during makeModule names the record makeModule then returns.
  std::vector<const void*> half_at_depth(64, nullptr);
  size_t checked = 0;
  const std::vector<TraceEntry>& trace = host.Trace();
  for (size_t i = 0; i < trace.size(); ++i) {
    const TraceEntry& e = trace[i];
    const size_t depth = static_cast<size_t>(std::max(0, std::min(e.depth, 63)));
    if (!e.IsCallback()) {
      half_at_depth[depth] = e.record;
      continue;
    }
    const void* expected = nullptr;
    const char* half = "";
    if (i >= gui_start && i < gui_end && e.depth == 1) {
      expected = gui;
      half = "GUI half, while makeModule built it,";
    } else if (depth > 0) {
      expected = half_at_depth[depth - 1];
      half = expected == static_cast<const void*>(audio) ? "audio half" : "GUI half";
    }
    if (!expected) continue;
    ++checked;
    if (e.record != expected) {
      const std::string got = !e.record                             ? "null"
                              : e.record == static_cast<const void*>(audio) ? "the audio record"
                              : e.record == static_cast<const void*>(gui)   ? "the GUI record"
                                                                            : "an unknown address";
      ctx.Fail(std::string("the ") + half + " called the host with " + got + " instead of its own record (callback " +
               std::to_string(e.opcode) + ")");
      break;
    }
  }
  ctx.Note(std::to_string(checked) + " callbacks, each naming its own half's record");
}

}  // namespace

const std::vector<Check>& RecordChecks() {
  static const std::vector<Check> checks = {
      {"records.audio", "the audio record: magic \"LPES\", version 1, host value, every entry set, reserved words 0", CheckAudioRecord},
      {"records.gui", "the GUI record: magic \"MPES\", version 1, host value, dispatcher set, reserved words 0", CheckGuiRecord},
      {"records.refused", "makeModule answers null for unknown types and modules, without a host call", CheckRefusedHalves},
      {"records.callback-address", "every callback names the calling half's own record, during construction too", CheckCallbackAddress},
  };
  return checks;
}

}  // namespace semhost
