#include "Tracer.h"

#include <string.h>

#include "FloatBits.h"
#include "Names.h"
#include "PinInfo.h"
#include "Text.h"

namespace semhost {

namespace {

using sehost::Entry;
using sehost::Side;
using sehost::TraceEntry;

// Which of index, value, ptr and opt an opcode uses (the interface's tables
// say): those are always shown; the others only when a caller sends
// something other than 0 in them.
enum Uses : unsigned { kIndex = SE_ARG_INDEX, kValue = SE_ARG_VALUE, kPtr = SE_ARG_PTR, kOpt = SE_ARG_OPT };

unsigned UsesOf(Family family, int32_t opcode) { return ArgumentsOf(family, opcode); }

bool FamilyOf(const TraceEntry& e, Family* family) {
  if (e.entry == Entry::kCallback) {
    if (e.side == Side::kUnknown) return false;
    *family = e.side == Side::kAudio ? Family::kAudioCallback : Family::kGuiCallback;
    return true;
  }
  if (e.entry != Entry::kDispatcher) return false;
  *family = e.side == Side::kGui ? Family::kGuiOp : Family::kAudioOp;
  return true;
}

// The direction column: every arrow padded to the width of the longest.
std::string Column(const char* arrow) {
  std::string text = arrow;
  const size_t display = text.size() - 2;  // "→" and "←" are three bytes wide, one column
  return text + std::string(display < 11 ? 11 - display : 1, ' ');
}

const char* Prefix(const TraceEntry& e, bool returning) {
  if (e.entry == Entry::kCallback) {
    if (e.side == Side::kAudio) return returning ? "audio←host" : "audio→host";
    if (e.side == Side::kGui) return returning ? "gui←host" : "gui→host";
    return returning ? "?←host" : "?→host";
  }
  if (e.side == Side::kGui) return returning ? "host←gui" : "host→gui";
  return returning ? "host←audio" : "host→audio";
}

std::string EventText(const SEEvent& event) {
  std::string text = "time=" + std::to_string(event.time_stamp) + " " + EventTypeName(event.event_type) +
                     " value1=" + std::to_string(event.int_value1) + " value2=" + std::to_string(event.int_value2);
  if (event.event_type == EVT_PIN_STATUS) {
    text += " pin=" + std::to_string(static_cast<long long>(event.ptr_value));
  } else if (event.ptr_value) {
    text += event.event_type == EVT_RUN_FUNCTION ? " call=non-null" : " ptr_value=non-null";
  }
  return text;
}

std::string Name(const TraceEntry& e) {
  if (e.entry == Entry::kProcess) return "process";
  if (e.entry == Entry::kEvent) return "event";
  Family family;
  if (!FamilyOf(e, &family)) return "callback " + std::to_string(e.opcode) + " record=unknown";
  return OpcodeLabel(family, e.opcode);
}

std::string Args(const TraceEntry& e) {
  if (e.entry == Entry::kProcess) {
    return " offset=" + std::to_string(e.index) + " frames=" + std::to_string(e.value);
  }
  if (e.entry == Entry::kEvent) {
    SEEvent event;
    memcpy(&event, e.ptr, sizeof event);  // the host's copy, alive during the call
    return " " + EventText(event);
  }
  Family family = Family::kAudioCallback;
  const bool known = FamilyOf(e, &family);
  const unsigned uses = known ? UsesOf(family, e.opcode) : 0;
  std::string text;
  if ((uses & kIndex) || e.index) text += " index=" + std::to_string(e.index);
  if ((uses & kValue) || e.value) text += " value=" + std::to_string(e.value);
  if ((uses & kPtr) || e.ptr) {
    // Pointers are shown by what they hold where the opcode says, else as null / non-null.
    if (!e.ptr) {
      text += " ptr=null";
    } else if (family == Family::kGuiCallback && e.opcode == GUI_HC_SET_PIN_TEXT) {
      text += " text=\"" + Printable(static_cast<const char*>(e.ptr)) + "\"";
    } else if (family == Family::kAudioCallback && e.opcode == HC_ADD_EVENT) {
      SEEvent event;
      memcpy(&event, e.ptr, sizeof event);  // the module's event, alive during the call
      text += " event{" + EventText(event) + "}";
    } else if (family == Family::kAudioCallback && e.opcode == HC_PIN_STATUS) {
      text += " clock=" + std::to_string(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(e.ptr)));
    } else if ((family == Family::kGuiCallback && e.opcode == GUI_HC_GET_PIN_VALUE) ||
               (family == Family::kAudioOp && e.opcode == OP_GET_PIN_PROPERTIES)) {
      // The answer shows what the buffer or record holds.
    } else {
      text += " ptr=non-null";
    }
  }
  if ((uses & kOpt) || e.opt_bits) text += " opt=" + FormatFloat(e.opt());
  return text;
}

std::string PinValueText(const sehost::StandInHost& host, int32_t pin, uint32_t bits) {
  if (host.Pin(pin).datatype == DT_FLOAT) return FormatFloat(setest::BitsFloat(bits));
  return std::to_string(static_cast<int32_t>(bits));
}

std::string Answer(const TraceEntry& e, const sehost::StandInHost& host) {
  if (e.entry == Entry::kProcess || e.entry == Entry::kEvent) return "";
  const std::string number = std::to_string(static_cast<long long>(e.result));
  Family family;
  if (!FamilyOf(e, &family)) return number;
  switch (family) {
    case Family::kAudioOp:
      if (e.opcode == OP_GET_PIN_PROPERTIES && e.result == 1 && e.ptr) {
        return number + " " + PinInfo::FromRecord(e.index, *static_cast<const SEPinProperties*>(e.ptr)).RecordText();
      }
      if (e.opcode == OP_GET_PROCESS_FUNCTION_INFO) {
        if (!e.result) return "null";
        const ProcessFunctionInfo* info = reinterpret_cast<const ProcessFunctionInfo*>(e.result);
        return "{kind=" + std::to_string(info->kind) + " size=" + std::to_string(info->size) +
               " address=" + (info->address ? "non-null" : "null") + " tag=" + std::to_string(info->tag) + "}";
      }
      return number;
    case Family::kGuiOp:
      return number;
    case Family::kAudioCallback:
      if (e.opcode == HC_GET_PIN_BUFFER) return e.result ? "buffer" : "null";
      if (e.opcode == HC_GET_SAMPLE_CLOCK || e.opcode == HC_GET_BLOCK_START) {
        return std::to_string(static_cast<uint32_t>(e.result));
      }
      return number;
    case Family::kGuiCallback:
      if (e.opcode == GUI_HC_GET_PIN_VALUE) {
        if (!e.ptr) return number;
        uint32_t bits;
        memcpy(&bits, e.ptr, sizeof bits);  // the module's buffer, alive during the call
        return PinValueText(host, e.index, bits);
      }
      if (e.opcode == GUI_HC_GET_PIN_TEXT) {
        return e.result ? "\"" + Printable(reinterpret_cast<const char*>(e.result)) + "\"" : "null";
      }
      return number;
  }
  return number;
}

}  // namespace

Tracer::Tracer(std::function<void(const std::string&)> sink) : m_sink(std::move(sink)) {}

Tracer Tracer::ToFile(FILE* out) {
  return Tracer([out](const std::string& line) {
    fputs(line.c_str(), out);
    fputc('\n', out);
    fflush(out);
  });
}

void Tracer::CallStarted(const TraceEntry& e, const sehost::StandInHost&) {
  const std::string name = Name(e);
  Start(Column(Prefix(e, false)) + name + Args(e), Column(Prefix(e, true)) + name, e.depth);
}

void Tracer::CallReturned(const TraceEntry& e, const sehost::StandInHost& host) { Finish(Answer(e, host)); }

void Tracer::LibraryCallStarted(const std::string& call) {
  Start(Column("host→lib") + call, Column("host←lib") + call.substr(0, call.find(' ')),
        m_open.empty() ? 0 : m_open.back().depth + 1);
}

void Tracer::LibraryCallReturned(const std::string& answer) { Finish(answer); }

std::string Tracer::Describe(const TraceEntry& entry, const sehost::StandInHost& host, bool with_result) {
  std::string line = Column(Prefix(entry, false)) + Name(entry) + Args(entry);
  const std::string answer = with_result ? Answer(entry, host) : "";
  return answer.empty() ? line : line + " → " + answer;
}

void Tracer::Start(const std::string& line, const std::string& closing, int depth) {
  if (!m_open.empty() && !m_open.back().printed) {
    Emit(m_open.back().depth, m_open.back().line);
    m_open.back().printed = true;
  }
  m_open.push_back(Open{line, closing, depth, false});
}

void Tracer::Finish(const std::string& answer) {
  if (m_open.empty()) return;
  const Open call = m_open.back();
  m_open.pop_back();
  const std::string tail = answer.empty() ? "" : " → " + answer;
  Emit(call.depth, (call.printed ? call.closing : call.line) + tail);
}

void Tracer::Emit(int depth, const std::string& text) {
  m_sink(std::string(static_cast<size_t>(depth > 0 ? depth * 2 : 0), ' ') + text);
}

}  // namespace semhost
