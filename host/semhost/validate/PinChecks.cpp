// The pins the audio half declares: the pin-flags rule, the record bounds,
// names and directions, enumeration lists.

#include "Checks.h"

#include <string.h>

#include "AbortTrap.h"
#include "CheckTools.h"
#include "Guarded.h"
#include "Names.h"
#include "PinInfo.h"
#include "Text.h"

namespace semhost {

namespace {

using setest::Guarded;

struct PinQuery {
  se_ret_t answer;
  SEPinProperties properties;
  std::string overrun;
  bool aborted = false;  // the framework's own check ended the call: the session is unusable
};

// Asks the audio half for pin properties from index 0 until the first false,
// each into a zeroed record between guard bytes; the last entry is the false one.
std::vector<PinQuery> QueryPins(CheckContext& ctx, Session& session, bool* ended) {
  std::vector<PinQuery> queries;
  *ended = false;
  if (!session.CreateAudio()) {
    ctx.Fail(MakeModuleCall(ctx.options().module_index, MT_AUDIO) + " answered null");
    return queries;
  }
  ctx.Phase("reading pin properties with OP_GET_PIN_PROPERTIES");
  for (int32_t i = 0; i < kPinLimit; ++i) {
    Guarded<SEPinProperties> record;
    se_ret_t answer = 0;
    const bool returned = CallCatchingAbort(
        [&] { answer = session.host().AudioDispatch(OP_GET_PIN_PROPERTIES, i, 0, record.get()); });
    queries.push_back({returned ? answer : 1, *record.get(), record.Overrun(), !returned});
    if (!returned) {
      *ended = true;
      break;
    }
    if (answer == 0) {
      *ended = true;
      break;
    }
  }
  return queries;
}

void CheckPinFlags(CheckContext& ctx) {
  auto session = ctx.NewSession();
  bool ended;
  const std::vector<PinQuery> queries = QueryPins(ctx, *session, &ended);
  size_t pins = 0;
  for (size_t i = 0; i < queries.size(); ++i) {
    const SEPinProperties& p = queries[i].properties;
    if (queries[i].answer == 0) break;
    ++pins;
    if (!SEPinFlagsAllowed(p)) {
      const PinInfo pin = PinInfo::FromRecord(static_cast<int32_t>(i), p);
      ctx.Fail(pin.Label() + " (" + pin.DirectionName() + ", " + pin.FlagNames() +
               ") has IO_PATCH_STORE but is neither an output, IO_PRIVATE nor IO_UI_COMMUNICATION" +
               (queries[i].aborted ? ": the framework ends the process whenever a host asks for this pin" : "") +
               "; add IO_PRIVATE (or IO_UI_COMMUNICATION for a GUI pin), or drop IO_PATCH_STORE");
    }
    if (queries[i].aborted) {
      if (SEPinFlagsAllowed(p)) ctx.Fail("pin " + std::to_string(i) + ": the module aborted when asked for its properties");
      (void)session.release();  // stopped inside a call: neither it nor the module may be used again
      return;
    }
  }
  ctx.Note(std::to_string(pins) + " pin(s), every one obeying the pin-flags rule");
}

void CheckPinRecordBounds(CheckContext& ctx) {
  auto session = ctx.NewSession();
  bool ended;
  const std::vector<PinQuery> queries = QueryPins(ctx, *session, &ended);
  if (!ended && !queries.empty()) {
    ctx.Fail("no false answer within " + std::to_string(kPinLimit) + " pins: the list of pins never ends");
  }
  for (size_t i = 0; i < queries.size(); ++i) {
    if (!queries[i].overrun.empty()) {
      ctx.Fail("pin " + std::to_string(i) + ": wrote outside the pin record: " + queries[i].overrun);
    }
    if (queries[i].answer != 0 && queries[i].answer != 1) {
      ctx.Fail("pin " + std::to_string(i) + ": answered " + std::to_string(static_cast<long long>(queries[i].answer)) +
               "; the answer is 1 for a pin, 0 for none");
    }
  }
  for (int32_t index : {-1, kMinInt}) {
    Guarded<SEPinProperties> record;
    const se_ret_t answer = session->host().AudioDispatch(OP_GET_PIN_PROPERTIES, index, 0, record.get());
    if (answer != 0) ctx.Fail("pin index " + std::to_string(index) + " answered " + std::to_string(answer) + " (want 0)");
    if (!record.Overrun().empty()) ctx.Fail("pin index " + std::to_string(index) + ": wrote outside the pin record");
  }
  ctx.Note(std::to_string(queries.empty() ? 0 : queries.size() - 1) +
           " pin(s) and the false answer after them, nothing written outside the record");
}

void CheckPinNames(CheckContext& ctx) {
  auto session = ctx.NewSession();
  bool ended;
  const std::vector<PinQuery> queries = QueryPins(ctx, *session, &ended);
  std::vector<std::string> names;
  for (size_t i = 0; i < queries.size() && queries[i].answer != 0; ++i) {
    const SEPinProperties& p = queries[i].properties;
    const std::string label = "pin " + std::to_string(i);
    if (!p.name) {
      ctx.Fail(label + ": name is null");
    } else {
      const size_t length = strnlen(p.name, 1024);
      if (length == 0) ctx.Fail(label + ": name is empty");
      if (length == 1024) ctx.Fail(label + ": name has no NUL within 1024 bytes");
      names.push_back("\"" + Printable(std::string(p.name, length).c_str()) + "\"");
    }
    if (p.direction != DR_IN && p.direction != DR_OUT) {
      ctx.Fail(label + ": direction " + std::to_string(p.direction) + " is neither DR_IN nor DR_OUT");
    }
  }
  ctx.Note(names.empty() ? "the module declares no pins" : Join(names, ", "));
}

void CheckEnumLists(CheckContext& ctx) {
  auto session = ctx.NewSession();
  bool ended;
  const std::vector<PinQuery> queries = QueryPins(ctx, *session, &ended);
  std::vector<std::string> lists;
  for (size_t i = 0; i < queries.size() && queries[i].answer != 0; ++i) {
    const SEPinProperties& p = queries[i].properties;
    if (p.datatype != DT_ENUM) continue;
    const std::string label = PinInfo::FromRecord(static_cast<int32_t>(i), p).Label();
    if (!p.datatype_extra) {
      ctx.Fail(label + ": DT_ENUM without a list (datatype_extra is null)");
      continue;
    }
    if (strnlen(p.datatype_extra, 65536) == 65536) {
      ctx.Fail(label + ": list has no NUL within 65536 bytes");
      continue;
    }
    PinInfo pin = DescribePin(static_cast<int32_t>(i), p);
    if (!pin.list_problem.empty()) {
      ctx.Fail(label + ": list \"" + pin.extra + "\" cannot be read: " + pin.list_problem);
    } else if (pin.choice_count == 0) {
      ctx.Fail(label + ": list \"" + pin.extra + "\" has no choice");
    } else {
      lists.push_back(label + " " + std::to_string(pin.choice_count) + " choice(s)");
    }
  }
  if (lists.empty() && ctx.verdict() != Verdict::kFail) {
    ctx.Skip("the module declares no enumerated pin");
    return;
  }
  ctx.Note(Join(lists, ", "));
}

}  // namespace

const std::vector<Check>& PinChecks() {
  static const std::vector<Check> checks = {
      {"pins.flags-rule", "every pin obeys the pin-flags rule (IO_PATCH_STORE only on private, output or GUI pins)", CheckPinFlags},
      {"pins.record-bounds", "pins answer 1 until the first 0; nothing is written outside the 32-byte record", CheckPinRecordBounds},
      {"pins.names", "every pin has a readable, non-empty name and a valid direction", CheckPinNames},
      {"pins.enum-lists", "every enumerated pin has a list the framework's reader reads, with at least one choice", CheckEnumLists},
  };
  return checks;
}

}  // namespace semhost
