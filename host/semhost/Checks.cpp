#include "Checks.h"

#include <string.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "CrashReporter.h"
#include "FpEnvironment.h"
#include "HeapMeter.h"
#include "ModuleInfo.h"
#include "StackProbe.h"
#include "Text.h"
#include "it_enum_list.h"

namespace semhost {

namespace {

using sehost::Entry;
using sehost::Side;
using sehost::StandInHost;
using sehost::TraceEntry;

constexpr int32_t kPinLimit = 1024;  // pins are read until the first false, at most this many
constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;
constexpr int32_t kMinInt = std::numeric_limits<int32_t>::min();
constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();

// A record of type T in the middle of guard bytes, to see whether the module
// writes outside it.
template <class T>
class Guarded {
 public:
  Guarded() : m_bytes(kGuardBytes * 2 + sizeof(T), kGuard) { memset(get(), 0, sizeof(T)); }
  T* get() { return reinterpret_cast<T*>(m_bytes.data() + kGuardBytes); }
  unsigned char* bytes() { return m_bytes.data() + kGuardBytes; }
  // "" when every guard byte is intact, else where the first write landed.
  std::string Overrun() const {
    for (size_t i = 0; i < kGuardBytes; ++i) {
      if (m_bytes[kGuardBytes - 1 - i] != kGuard) return std::to_string(i + 1) + " byte(s) before the record";
    }
    for (size_t i = 0; i < kGuardBytes; ++i) {
      if (m_bytes[kGuardBytes + sizeof(T) + i] != kGuard) {
        return "byte " + std::to_string(sizeof(T) + i) + ", " + std::to_string(i + 1) +
               " byte(s) past the end of the " + std::to_string(sizeof(T)) + "-byte record";
      }
    }
    return "";
  }

 private:
  std::vector<unsigned char> m_bytes;
};

uint32_t FloatBits(float f) {
  uint32_t bits;
  memcpy(&bits, &f, sizeof bits);
  return bits;
}

// A small generator with a fixed definition, so a seed replays the same
// sequence on every platform and standard library.
class Random {
 public:
  explicit Random(uint64_t seed) : m_state(seed) {}
  uint64_t Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 to n - 1 (n > 0).
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  int32_t Between(int32_t lo, int32_t hi) {
    return static_cast<int32_t>(lo + static_cast<int64_t>(Next() % (static_cast<uint64_t>(hi - lo) + 1)));
  }
  float Float() {
    static const float kSpecial[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1.5707964f, 3.1415927f, 1e-40f, -1e-40f,
                                     1e30f, -1e30f, 3.4028235e38f, INFINITY, -INFINITY, NAN};
    if (Below(3) == 0) return kSpecial[Below(sizeof kSpecial / sizeof kSpecial[0])];
    return static_cast<float>((static_cast<double>(Next() >> 11) / 9007199254740992.0 - 0.5) * 20.0);
  }

 private:
  uint64_t m_state;
};

// The pins of the module as a fresh audio half declares them.
std::vector<PinInfo> Describe(const std::vector<SEPinProperties>& pins) {
  std::vector<PinInfo> out;
  for (size_t i = 0; i < pins.size(); ++i) out.push_back(DescribePin(static_cast<int32_t>(i), pins[i]));
  return out;
}

// A value for an input pin: a choice of an enumerated pin, a float, else an integer.
uint32_t SomeValue(const PinInfo& pin, Random& random) {
  if (pin.IsEnum()) {
    if (!pin.choices.empty() && random.Below(8) != 0) {
      return static_cast<uint32_t>(pin.choices[random.Below(static_cast<uint32_t>(pin.choices.size()))].value);
    }
    return static_cast<uint32_t>(random.Between(-2, 70000));
  }
  if (pin.datatype == DT_FLOAT) return FloatBits(random.Float());
  return static_cast<uint32_t>(random.Between(-1000, 1000));
}

std::vector<const PinInfo*> SettableInputs(const std::vector<PinInfo>& pins) {
  std::vector<const PinInfo*> out;
  for (const PinInfo& pin : pins) {
    if (pin.IsInput() && IsSettable(pin)) out.push_back(&pin);
  }
  return out;
}

// Output pins the GUI half writes: outputs that are GUI pins.
std::vector<const PinInfo*> GuiOutputs(const std::vector<PinInfo>& pins) {
  std::vector<const PinInfo*> out;
  for (const PinInfo& pin : pins) {
    if (pin.IsOutput() && (pin.flags & IO_UI_COMMUNICATION)) out.push_back(&pin);
  }
  return out;
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : separator) + part;
  return out;
}

bool StartOrFail(CheckContext& ctx, Session& session) {
  std::string error;
  if (session.Start(&error)) return true;
  ctx.Fail(error);
  return false;
}

// ---- loading ----

void CheckExports(CheckContext& ctx) {
  ctx.Note("getModuleProperties and makeModule found by their undecorated names");
}

void CheckProperties(CheckContext& ctx) {
  const int32_t index = ctx.options().module_index;
  auto session = ctx.NewSession();
  Guarded<ModuleProperties> record;
  ModuleProperties* p = record.get();
  p->host_word = 0x7E57C0DE;
  p->sdk_version = 0x5A5A5A5A;
  p->flags = 0x5A5A5A5A;
  ctx.Phase("calling getModuleProperties for the module");
  const int32_t answer = session->GetProperties(index, p);
  if (answer != 1) {
    ctx.Fail("getModuleProperties(" + std::to_string(index) + ") answered " + std::to_string(answer) +
             "; the answer for a module the library holds is exactly 1");
    return;
  }
  if (!p->name) ctx.Fail("name is null");
  if (!p->id) ctx.Fail("id is null");
  if (!p->about) ctx.Fail("about is null");
  if (p->name && !*p->name) ctx.Fail("name is empty");
  if (p->sdk_version == 0x5A5A5A5A) ctx.Fail("sdk_version was not written");
  if (p->flags == 0x5A5A5A5A) ctx.Fail("flags were not written");
  if (p->host_word != 0x7E57C0DE) ctx.Fail("the host's word at offset 12 was overwritten");
  const std::string overrun = record.Overrun();
  if (!overrun.empty()) ctx.Fail("wrote outside the properties record: " + overrun);
  // The answer must not depend on earlier calls.
  Guarded<ModuleProperties> again;
  session->GetProperties(index, again.get());
  if (again.get()->name != p->name || again.get()->id != p->id || again.get()->about != p->about ||
      again.get()->flags != p->flags) {
    ctx.Fail("a second call gave different properties");
  }
  char hex[16];
  snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(p->flags));
  ctx.Note("\"" + Printable(p->name) + "\", id \"" + Printable(p->id) + "\", flags " + hex + ", sdk_version " +
           std::to_string(p->sdk_version));
}

void CheckOtherIndices(CheckContext& ctx) {
  auto session = ctx.NewSession();
  ctx.Phase("counting the modules with getModuleProperties");
  int32_t count = 0;
  constexpr int32_t kLimit = 256;
  while (count < kLimit) {
    ModuleProperties p;
    memset(&p, 0, sizeof p);
    if (session->GetProperties(count, &p) == 0) break;
    ++count;
  }
  if (count == kLimit) {
    ctx.Fail("getModuleProperties answered 1 for every index from 0 to " + std::to_string(kLimit - 1) +
             ": it must answer 0 for an index the library does not hold");
  }
  // Every module the library claims must also be made.
  ctx.Phase("making the halves of every module the library claims");
  for (int32_t i = 0; i < std::min(count, 8); ++i) {
    if (i == ctx.options().module_index) continue;
    StandInHost host;
    void* made = nullptr;
    host.RunAsCall([&] { made = ctx.library().makeModule()(i, 1, &StandInHost::seaudioMaster, 1); });
    if (!made) {
      ctx.Fail("getModuleProperties(" + std::to_string(i) + ") answered 1, but makeModule(" + std::to_string(i) +
               ", 1) made nothing: the library does not hold module " + std::to_string(i));
    }
    // A half made here is left alone: its record may not be what it claims.
  }
  ctx.Phase("asking getModuleProperties for indices the library does not hold");
  std::vector<int32_t> indices = {count, count + 1, count + 100, -1, -2, kMinInt, kMaxInt};
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  int asked = 0;
  for (int32_t index : indices) {
    if (index >= 0 && index < count) continue;
    Guarded<ModuleProperties> record;
    memset(record.bytes(), 0x3C, sizeof(ModuleProperties));
    const int32_t answer = session->GetProperties(index, record.get());
    ++asked;
    if (answer != 0) {
      ctx.Fail("index " + std::to_string(index) + " answered " + std::to_string(answer) + " (want 0)");
      continue;
    }
    std::vector<std::string> written;
    for (size_t byte = 0; byte < sizeof(ModuleProperties); ++byte) {
      const bool sdk = byte >= offsetof(ModuleProperties, sdk_version) &&
                       byte < offsetof(ModuleProperties, sdk_version) + sizeof(int32_t);
      if (!sdk && record.bytes()[byte] != 0x3C) {
        written.push_back("byte " + std::to_string(byte));
        break;
      }
    }
    if (!written.empty()) {
      ctx.Fail("index " + std::to_string(index) + " answered 0 but wrote more than sdk_version (" + written[0] + ")");
    }
    const std::string overrun = record.Overrun();
    if (!overrun.empty()) ctx.Fail("index " + std::to_string(index) + " wrote outside the record: " + overrun);
  }
  ctx.Note(std::to_string(count) + " module(s); " + std::to_string(asked) +
           " other indices answered 0 and wrote nothing but sdk_version");
}

// ---- records ----

void CheckAudioRecord(CheckContext& ctx) {
  auto session = ctx.NewSession(0x00C0FFEE);
  ctx.Phase("making the audio half");
  AudioRecord* record = session->CreateAudio();
  if (!record) {
    ctx.Fail("makeModule(" + std::to_string(ctx.options().module_index) + ", 1) answered null");
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
    ctx.Skip("the module makes no GUI half: makeModule(" + std::to_string(ctx.options().module_index) +
             ", 2) answered null");
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
  const Request requests[] = {{index, 0}, {index, 3}, {index, -1}, {index, 1000}, {index, kMinInt},
                              {-1, 1},    {-1, 2},    {kMaxInt, 1}, {kMaxInt, 2}};
  int refused = 0;
  ctx.Phase("asking makeModule for halves that do not exist");
  for (const Request& request : requests) {
    StandInHost host;
    ctx.Observe(host);
    void* made = nullptr;
    host.RunAsCall([&] { made = ctx.library().makeModule()(request.index, request.type, &StandInHost::seaudioMaster, 7); });
    const std::string call = "makeModule(" + std::to_string(request.index) + ", " + std::to_string(request.type) + ")";
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
  if (!audio) return ctx.Fail("makeModule(" + std::to_string(ctx.options().module_index) + ", 1) answered null");
  const std::vector<PinInfo> pins = Describe(host.QueryPins());
  host.SetAudioPinCount(AudioPinCount(host.QueryPins()), 256);
  host.AudioDispatch(OP_OPEN);
  for (int i = 0; i < 4; ++i) host.RunBlock(256);
  const size_t gui_start = host.Trace().size();
  GuiRecord* gui = session->CreateGui();
  const size_t gui_end = host.Trace().size();
  Random random(ctx.options().seed);
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

// ---- pins ----

struct PinQuery {
  se_ret_t answer;
  SEPinProperties properties;
  std::string overrun;
};

// Asks the audio half for pin properties from index 0 until the first false,
// each into a zeroed record between guard bytes; the last entry is the false one.
std::vector<PinQuery> QueryPins(CheckContext& ctx, Session& session, bool* ended) {
  std::vector<PinQuery> queries;
  *ended = false;
  if (!session.CreateAudio()) {
    ctx.Fail("makeModule(" + std::to_string(ctx.options().module_index) + ", 1) answered null");
    return queries;
  }
  ctx.Phase("reading pin properties with OP_GET_PIN_PROPERTIES");
  for (int32_t i = 0; i < kPinLimit; ++i) {
    Guarded<SEPinProperties> record;
    const se_ret_t answer = session.host().AudioDispatch(OP_GET_PIN_PROPERTIES, i, 0, record.get());
    queries.push_back({answer, *record.get(), record.Overrun()});
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
      ctx.Fail("pin " + std::to_string(i) + " \"" + Printable(p.name) + "\" (" + DirectionName(p.direction) + ", " +
               PinFlagNames(p.flags) +
               ") has IO_PATCH_STORE but is neither an output, IO_PRIVATE nor IO_UI_COMMUNICATION");
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
    const std::string label = "pin " + std::to_string(i) + " \"" + Printable(p.name) + "\"";
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

// ---- opcodes outside the interface ----

void CheckAudioOutside(CheckContext& ctx) {
  auto session = ctx.NewSession();
  if (!StartOrFail(ctx, *session)) return;
  StandInHost& host = session->host();
  unsigned char scratch[256] = {};
  // 7 and 10 are left out on purpose: they are contract violations that end the process.
  const int32_t opcodes[] = {14, 15, 16, 20, 22, 64, 100, 255, 256, 1000, 65536, -1, -2, -100, kMinInt, kMaxInt};
  ctx.Phase("sending audio opcodes outside the interface");
  for (int32_t opcode : opcodes) {
    const size_t before = host.Trace().size();
    CrashReporter::SetStep(opcode);
    const se_ret_t answer = host.AudioDispatch(opcode, 1, 2, scratch, 0.5f);
    size_t callbacks = 0;
    for (size_t i = before; i < host.Trace().size(); ++i) callbacks += host.Trace()[i].IsCallback() ? 1 : 0;
    if (answer != 0) ctx.Fail("opcode " + std::to_string(opcode) + " answered " + std::to_string(answer) + " (want 0)");
    if (callbacks) ctx.Fail("opcode " + std::to_string(opcode) + " made " + std::to_string(callbacks) + " callback(s)");
  }
  ctx.Note(std::to_string(sizeof opcodes / sizeof opcodes[0]) +
           " opcodes outside the interface answered 0 without a callback (7 and 10 are never sent)");
}

void CheckGuiOutside(CheckContext& ctx) {
  auto session = ctx.NewSession();
  if (!StartOrFail(ctx, *session)) return;
  StandInHost& host = session->host();
  unsigned char scratch[256] = {};
  const int32_t opcodes[] = {13, 14, 15, 16, 20, 64, 100, 255, 256, 1000, 65536, -1, -2, -100, kMinInt, kMaxInt};
  ctx.Phase("sending GUI opcodes outside the interface");
  for (int32_t opcode : opcodes) {
    const size_t before = host.Trace().size();
    CrashReporter::SetStep(opcode);
    const se_ret_t answer = host.GuiDispatch(opcode, 1, 2, scratch, 0.5f);
    size_t callbacks = 0;
    for (size_t i = before; i < host.Trace().size(); ++i) callbacks += host.Trace()[i].IsCallback() ? 1 : 0;
    if (answer != 0) ctx.Fail("opcode " + std::to_string(opcode) + " answered " + std::to_string(answer) + " (want 0)");
    if (callbacks) ctx.Fail("opcode " + std::to_string(opcode) + " made " + std::to_string(callbacks) + " callback(s)");
  }
  ctx.Note(std::to_string(sizeof opcodes / sizeof opcodes[0]) + " opcodes outside the interface answered 0 without a callback");
}

// ---- lifecycle ----

void CheckOpenProcessClose(CheckContext& ctx) {
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  const size_t orphans = StandInHost::OrphanCallbacks();
  ctx.Phase("making and opening the audio half");
  AudioRecord* audio = session->CreateAudio();
  if (!audio) return ctx.Fail("makeModule(" + std::to_string(ctx.options().module_index) + ", 1) answered null");
  const std::vector<SEPinProperties> pins = host.QueryPins();
  auto expect = [&ctx](const char* what, se_ret_t answer, se_ret_t want) {
    if (answer != want) {
      ctx.Fail(std::string(what) + " answered " + std::to_string(static_cast<long long>(answer)) + ", want " +
               std::to_string(static_cast<long long>(want)));
    }
  };
  expect("OP_SET_SAMPLE_RATE", host.AudioDispatch(OP_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f), 0);
  expect("OP_SET_BLOCK_SIZE", host.AudioDispatch(OP_SET_BLOCK_SIZE, 0, 256), 0);
  host.SetAudioPinCount(AudioPinCount(pins), 256);
  expect("OP_OPEN", host.AudioDispatch(OP_OPEN), 0);
  if (!audio->process_function) return ctx.Fail("process_function is null after OP_OPEN");
  ctx.Phase("processing 8 blocks of 256 frames");
  for (int i = 0; i < 8; ++i) host.RunBlock(256);
  expect("OP_NOTIFY", host.AudioDispatch(OP_NOTIFY), 0);
  ctx.Phase("closing the audio half");
  expect("OP_CLOSE", host.CloseAudio(), 1);

  ctx.Phase("making, opening and closing the GUI half");
  if (session->CreateGui()) {
    expect("GUI_OP_OPEN", host.GuiDispatch(GUI_OP_OPEN, 1), 0);
    expect("GUI_OP_CLOSE", host.CloseGui(), 1);
  }
  for (const TraceEntry& e : host.Trace()) {
    if (e.IsCallback() && e.side == Side::kUnknown) {
      ctx.Fail("a callback (opcode " + std::to_string(e.opcode) + ") named no record the host holds");
      break;
    }
  }
  if (StandInHost::OrphanCallbacks() != orphans) ctx.Fail("the module called the host outside any call into it");
  ctx.Note("OP_SET_SAMPLE_RATE, OP_SET_BLOCK_SIZE, OP_OPEN, 8 blocks, OP_NOTIFY and OP_CLOSE; GUI_OP_OPEN and GUI_OP_CLOSE");
}

void CheckProcessFunction(CheckContext& ctx) {
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  AudioRecord* audio = session->CreateAudio();
  if (!audio) return ctx.Fail("makeModule(" + std::to_string(ctx.options().module_index) + ", 1) answered null");
  const std::vector<SEPinProperties> pins = host.QueryPins();
  host.SetAudioPinCount(AudioPinCount(pins), 256);
  // At each announcement the record must already hold the new function.
  SEProcessEntry last = audio->process_function;
  int announcements = 0;
  bool stale = false;
  ctx.on_start = [&](const TraceEntry& e, const StandInHost&) {
    if (e.IsCallback() && e.side == Side::kAudio && e.opcode == HC_PROCESS_FUNCTION_CHANGED) {
      ++announcements;
      if (audio->process_function == last) stale = true;
      last = audio->process_function;
    }
  };
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
    host.RunBlock(256);
    if (audio->process_function != current) ++changes;
    current = audio->process_function;
  }
  if (announcements < changes) ctx.Fail("process_function changed during processing without an announcement");
  if (announcements > changes) ctx.Fail("HC_PROCESS_FUNCTION_CHANGED sent during processing without a change");
  ctx.on_start = nullptr;
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
  ctx.on_start = [&](const TraceEntry& e, const StandInHost& h) {
    if (e.IsCallback() && e.side == Side::kAudio && e.opcode == HC_ADD_EVENT && e.ptr) {
      SEEvent event;
      memcpy(&event, e.ptr, sizeof event);
      posted.push_back({event, h.sample_clock()});
    }
    if (e.entry == Entry::kEvent && e.ptr) {
      SEEvent event;
      memcpy(&event, e.ptr, sizeof event);
      delivered.push_back(event);
    }
  };
  ctx.Phase("opening the audio half and processing 32 blocks of 64 frames");
  if (!StartOrFail(ctx, *session)) return;
  for (int i = 0; i < 32 && host.audio(); ++i) host.RunBlock(64);
  ctx.on_start = nullptr;
  if (posted.empty()) {
    ctx.Skip("the module posted no event while opening and processing 32 blocks of 64 frames");
    return;
  }
  const uint32_t end = host.sample_clock();
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

// ---- the GUI half ----

struct Step {
  int32_t pin;
  uint32_t bits;
};

// Runs `steps` on a fresh session and answers the bits of every GUI output after each.
std::vector<std::vector<uint32_t>> Replay(CheckContext& ctx, const std::vector<Step>& steps,
                                          const std::vector<const PinInfo*>& outputs,
                                          const std::function<void(StandInHost&)>& prepare = nullptr) {
  std::vector<std::vector<uint32_t>> results;
  auto session = ctx.NewSession();
  std::string error;
  if (!session->Start(&error)) {
    ctx.Fail(error);
    return results;
  }
  if (prepare) prepare(session->host());
  for (const Step& step : steps) {
    session->Change(step.pin, step.bits);
    std::vector<uint32_t> row;
    for (const PinInfo* out : outputs) row.push_back(session->PinBits(out->index));
    results.push_back(row);
  }
  session->host().SetCallbackHook(nullptr);
  return results;
}

std::vector<Step> RandomSteps(const std::vector<PinInfo>& pins, uint64_t seed, size_t count) {
  Random random(seed);
  const std::vector<const PinInfo*> inputs = SettableInputs(pins);
  std::vector<Step> steps;
  if (inputs.empty()) return steps;
  for (size_t i = 0; i < count; ++i) {
    const PinInfo* pin = inputs[random.Below(static_cast<uint32_t>(inputs.size()))];
    steps.push_back({pin->index, SomeValue(*pin, random)});
  }
  return steps;
}

// The module's pins, or an empty list with the check skipped or failed.
std::vector<PinInfo> PinsForGui(CheckContext& ctx, std::vector<const PinInfo*>* outputs, std::vector<PinInfo>* store) {
  auto session = ctx.NewSession();
  std::string error;
  if (!session->Start(&error)) {
    if (session->host().audio()) {
      ctx.Skip("the module makes no GUI half: " + error);
    } else {
      ctx.Fail(error);
    }
    return {};
  }
  *store = Describe(session->pins());
  *outputs = GuiOutputs(*store);
  if (outputs->empty()) ctx.Skip("the module declares no output pin for its GUI half");
  if (SettableInputs(*store).empty()) ctx.Skip("the module declares no input pin semhost can set");
  return *store;
}

std::string StepText(const std::vector<PinInfo>& pins, const Step& step) {
  ModuleInfo info;
  info.pins = pins;
  const PinInfo& pin = pins[static_cast<size_t>(step.pin)];
  return pin.name + "=" + info.FormatValue(pin, step.bits);
}

void CheckEveryChoice(CheckContext& ctx) {
  std::vector<const PinInfo*> outputs;
  std::vector<PinInfo> pins;
  if (PinsForGui(ctx, &outputs, &pins).empty() || ctx.verdict() == Verdict::kSkip) return;
  std::vector<const PinInfo*> enums;
  for (const PinInfo& pin : pins) {
    if (pin.IsInput() && pin.IsEnum() && !pin.choices.empty()) enums.push_back(&pin);
  }
  if (enums.empty()) return ctx.Skip("the module declares no enumerated input pin");
  auto session = ctx.NewSession();
  if (!StartOrFail(ctx, *session)) return;
  StandInHost& host = session->host();
  // Other inputs at a value every function is defined for.
  for (const PinInfo* pin : SettableInputs(pins)) {
    if (!pin->IsEnum()) session->SetPin(pin->index, pin->datatype == DT_FLOAT ? FloatBits(0.5f) : 1);
  }
  ModuleInfo info;
  info.pins = pins;
  std::vector<std::string> results;
  ctx.Phase("changing every enumerated input to each of its choices");
  for (const PinInfo* pin : enums) {
    const size_t shown = std::min<size_t>(pin->choices.size(), 64);
    for (size_t c = 0; c < shown; ++c) {
      const Choice& choice = pin->choices[c];
      CrashReporter::SetStep(static_cast<long long>(c));
      const size_t before = host.Trace().size();
      session->Change(pin->index, static_cast<uint32_t>(choice.value));
      std::set<int32_t> written;
      for (size_t i = before; i < host.Trace().size(); ++i) {
        const TraceEntry& e = host.Trace()[i];
        if (e.IsCallback() && e.side == Side::kGui &&
            (e.opcode == GUI_HC_SET_PIN_VALUE || e.opcode == GUI_HC_SET_PIN_TEXT)) {
          written.insert(e.index);
        }
      }
      std::vector<std::string> values;
      for (const PinInfo* out : outputs) {
        if (!written.count(out->index)) {
          ctx.Fail(pin->name + "=" + choice.text + " did not write " + out->name);
        } else {
          values.push_back(info.FormatValue(*out, session->PinBits(out->index)));
        }
      }
      results.push_back(choice.text + " " + Join(values, "/"));
    }
  }
  ctx.Note("X=0.5: " + Join(results, ", "));
}

void CheckReentrancy(CheckContext& ctx) {
  std::vector<const PinInfo*> outputs;
  std::vector<PinInfo> pins;
  if (PinsForGui(ctx, &outputs, &pins).empty() || ctx.verdict() == Verdict::kSkip) return;
  const std::vector<Step> steps = RandomSteps(pins, ctx.options().seed, 48);
  ctx.Phase("running the reference sequence");
  const auto reference = Replay(ctx, steps, outputs);
  ctx.Phase("running the sequence with a notification sent back from inside each GUI callback");
  int reentered = 0;
  const auto reentrant = Replay(ctx, steps, outputs, [&](StandInHost& host) {
    host.SetCallbackHook([&reentered, &steps](StandInHost& h, const TraceEntry& e) {
      // Only from a callback of the outer evaluation, so the nesting stays one level deep.
      if (e.side != Side::kGui || e.depth != 1) return;
      ++reentered;
      h.NotifyGui(steps[static_cast<size_t>(reentered) % steps.size()].pin);
    });
  });
  if (reference.size() != reentrant.size()) return;
  for (size_t i = 0; i < reference.size(); ++i) {
    if (reference[i] != reentrant[i]) {
      ctx.Fail("after " + StepText(pins, steps[i]) + " (step " + std::to_string(i) +
               ") the outputs differ from the same step without re-entrant notifications");
      break;
    }
  }
  ctx.Note(std::to_string(reentered) + " re-entrant notifications over " + std::to_string(steps.size()) +
           " pin changes; outputs identical to the plain run");
}

void CheckDeterminism(CheckContext& ctx) {
  std::vector<const PinInfo*> outputs;
  std::vector<PinInfo> pins;
  if (PinsForGui(ctx, &outputs, &pins).empty() || ctx.verdict() == Verdict::kSkip) return;
  const std::vector<Step> steps = RandomSteps(pins, ctx.options().seed, 200);
  ctx.Phase("running one random sequence of pin changes twice, on two instances");
  const auto first = Replay(ctx, steps, outputs);
  const auto second = Replay(ctx, steps, outputs);
  for (size_t i = 0; i < first.size() && i < second.size(); ++i) {
    if (first[i] != second[i]) {
      ctx.Fail("step " + std::to_string(i) + " (" + StepText(pins, steps[i]) +
               ") gave different outputs on two instances with the same inputs");
      break;
    }
  }
  // The same inputs again on one instance give the same outputs again.
  std::vector<Step> doubled;
  for (const Step& step : steps) {
    doubled.push_back(step);
    doubled.push_back(step);
  }
  const auto twice = Replay(ctx, doubled, outputs);
  for (size_t i = 0; i + 1 < twice.size(); i += 2) {
    if (twice[i] != twice[i + 1]) {
      ctx.Fail("repeating " + StepText(pins, doubled[i]) + " (step " + std::to_string(i / 2) +
               ") changed the outputs though no input changed");
      break;
    }
  }
  ctx.Note(std::to_string(steps.size()) + " pin changes: identical outputs, bit for bit, on every run");
}

void CheckInstances(CheckContext& ctx) {
  std::vector<const PinInfo*> outputs;
  std::vector<PinInfo> pins;
  if (PinsForGui(ctx, &outputs, &pins).empty() || ctx.verdict() == Verdict::kSkip) return;
  constexpr int kInstances = 4;
  // A different set of inputs for each instance.
  std::vector<std::vector<Step>> inputs(kInstances);
  for (int k = 0; k < kInstances; ++k) {
    for (const PinInfo* pin : SettableInputs(pins)) {
      uint32_t bits = 0;
      if (pin->IsEnum()) {
        bits = static_cast<uint32_t>(pin->choices.empty() ? 0 : pin->choices[static_cast<size_t>(k) % pin->choices.size()].value);
      } else if (pin->datatype == DT_FLOAT) {
        bits = FloatBits(0.25f + 0.5f * static_cast<float>(k));
      } else {
        bits = static_cast<uint32_t>(k + 1);
      }
      inputs[static_cast<size_t>(k)].push_back({pin->index, bits});
    }
  }
  ctx.Phase("computing each instance's outputs alone");
  std::vector<std::vector<uint32_t>> alone;
  for (int k = 0; k < kInstances; ++k) {
    const auto rows = Replay(ctx, inputs[static_cast<size_t>(k)], outputs);
    if (rows.empty()) return;
    alone.push_back(rows.back());
  }
  ctx.Phase("running four instances at once, their pin changes interleaved");
  std::vector<std::unique_ptr<Session>> sessions;
  for (int k = 0; k < kInstances; ++k) {
    sessions.push_back(ctx.NewSession(0x1000 + k));
    if (!StartOrFail(ctx, *sessions.back())) return;
  }
  const size_t changes = inputs[0].size();
  for (int round = 0; round < 2; ++round) {
    for (size_t c = 0; c < changes; ++c) {
      for (int k = 0; k < kInstances; ++k) {
        const int which = round == 0 ? k : kInstances - 1 - k;
        const Step& step = inputs[static_cast<size_t>(which)][c];
        sessions[static_cast<size_t>(which)]->Change(step.pin, step.bits);
      }
    }
    for (int k = 0; k < kInstances; ++k) {
      for (size_t o = 0; o < outputs.size(); ++o) {
        if (sessions[static_cast<size_t>(k)]->PinBits(outputs[o]->index) != alone[static_cast<size_t>(k)][o]) {
          ctx.Fail("instance " + std::to_string(k) + " computed a different " + outputs[o]->name +
                   " while other instances were alive than alone (round " + std::to_string(round + 1) + ")");
          return;
        }
      }
    }
  }
  ctx.Note(std::to_string(kInstances) + " instances alive at once, pin changes interleaved both ways: each computed what it computes alone");
}

// ---- hygiene ----

// Runs every kind of call a host makes, through the context's observers.
void Workload(CheckContext& ctx) {
  auto session = ctx.NewSession();
  ModuleProperties properties;
  memset(&properties, 0, sizeof properties);
  session->GetProperties(ctx.options().module_index, &properties);
  std::string error;
  if (!session->Start(&error)) return;
  StandInHost& host = session->host();
  for (int i = 0; i < 4; ++i) host.RunBlock(256);
  host.AudioDispatch(OP_NOTIFY);
  host.AudioDispatch(OP_GET_PROCESS_FUNCTION_INFO);
  host.GuiDispatch(GUI_OP_OPEN, 1);
  const std::vector<PinInfo> pins = Describe(session->pins());
  Random random(ctx.options().seed);
  for (const PinInfo* pin : SettableInputs(pins)) {
    if (pin->IsEnum()) {
      for (const Choice& choice : pin->choices) session->Change(pin->index, static_cast<uint32_t>(choice.value));
    }
    for (int i = 0; i < 8; ++i) session->Change(pin->index, SomeValue(*pin, random));
  }
  session->Stop();
}

void CheckFpEnvironment(CheckContext& ctx) {
  std::vector<FpEnvironment> entered;
  std::set<std::string> reported;
  std::string library_call;
  int calls = 0;
  auto verify = [&](const std::string& call) {
    const FpEnvironment before = entered.back();
    entered.pop_back();
    const FpEnvironment after = FpEnvironment::Capture();
    ++calls;
    if (after == before) return;
    const std::string difference = FpEnvironment::Difference(before, after);
    if (reported.insert(call + difference).second && reported.size() <= 4) {
      ctx.Fail(call + " left " + difference);
    }
    before.Apply();  // the next call is judged on its own
  };
  ctx.on_start = [&](const TraceEntry& e, const StandInHost&) {
    if (!e.IsCallback()) entered.push_back(FpEnvironment::Capture());
  };
  ctx.on_return = [&](const TraceEntry& e, const StandInHost&) {
    if (e.IsCallback()) return;
    const std::string name = e.entry == Entry::kProcess ? "process_function"
                             : e.entry == Entry::kEvent ? "event_function"
                                                         : OpcodeLabel(e.side == Side::kGui ? Family::kGuiOp : Family::kAudioOp, e.opcode);
    verify(name + (e.entry == Entry::kDispatcher && e.side == Side::kGui && e.opcode == GUI_OP_PIN_VALUE_CHANGE
                       ? " index=" + std::to_string(e.index)
                       : ""));
  };
  ctx.on_library_start = [&](const std::string& call) {
    library_call = call;
    entered.push_back(FpEnvironment::Capture());
  };
  ctx.on_library_return = [&](const std::string&) { verify(library_call.substr(0, library_call.find(' '))); };

  const FpEnvironment original = FpEnvironment::Capture();
  ctx.Phase("running every kind of call in the default floating-point environment");
  Workload(ctx);
  const FpEnvironment unusual = FpEnvironment::Unusual();
  unusual.Apply();
  ctx.Phase("running every kind of call with rounding toward zero, flush-to-zero and x87 double precision");
  Workload(ctx);
  original.Apply();
  ctx.on_start = nullptr;
  ctx.on_return = nullptr;
  ctx.on_library_start = nullptr;
  ctx.on_library_return = nullptr;
  if (reported.size() > 4) ctx.Fail("and " + std::to_string(reported.size() - 4) + " more");
  ctx.Note(std::to_string(calls) + " calls, each leaving " + original.Describe() + " (and the unusual one) as it found it");
}

void CheckInstanceLeak(CheckContext& ctx) {
  if (!HeapMeter::Available()) return ctx.Skip("this platform's heap cannot be measured");
  const int32_t cycles = std::max<int32_t>(ctx.options().instances, 1);
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  std::vector<SEPinProperties> pins;
  {
    if (!session->CreateAudio()) return ctx.Fail("makeModule(" + std::to_string(ctx.options().module_index) + ", 1) answered null");
    pins = host.QueryPins();
    host.CloseAudio();
  }
  host.SetAudioPinCount(AudioPinCount(pins), 64);
  const std::vector<PinInfo> described = Describe(pins);
  const std::vector<const PinInfo*> inputs = SettableInputs(described);
  const int32_t notify = inputs.empty() ? 0 : inputs.front()->index;
  auto audio_cycle = [&] {
    if (!session->CreateAudio()) return;
    host.AudioDispatch(OP_OPEN);
    host.CloseAudio();
    host.ClearTrace();
  };
  bool has_gui = true;
  auto gui_cycle = [&] {
    if (!session->CreateGui()) {
      has_gui = false;
      return;
    }
    host.NotifyGui(notify);
    host.CloseGui();
    host.ClearTrace();
  };
  ctx.Phase("warming up");
  const int32_t warm = std::min<int32_t>(200, cycles);
  for (int32_t i = 0; i < warm; ++i) audio_cycle(), gui_cycle();
  auto measure = [&](const char* half, const std::function<void()>& cycle) {
    const size_t before = HeapMeter::InUse();
    for (int32_t i = 0; i < cycles; ++i) {
      CrashReporter::SetStep(i);
      cycle();
    }
    const size_t after = HeapMeter::InUse();
    const long long growth = static_cast<long long>(after) - static_cast<long long>(before);
    // A leaked instance costs at least its record; a few hundred bytes of
    // allocator noise are not a leak.
    if (growth > 8LL * cycles && growth > 4096) {
      ctx.Fail(std::string("the heap grew by ") + std::to_string(growth) + " bytes over " + std::to_string(cycles) +
               " " + half + " create/close cycles (" + std::to_string(growth / cycles) +
               " bytes per cycle): an instance is not freed on close");
    }
    return growth;
  };
  ctx.Phase("creating, opening and closing audio halves");
  const long long audio_growth = measure("audio-half", audio_cycle);
  ctx.Phase("creating, notifying and closing GUI halves");
  const long long gui_growth = has_gui ? measure("GUI-half", gui_cycle) : 0;
  ctx.Note(std::to_string(cycles) + " instances of each half created and closed; heap growth " +
           std::to_string(audio_growth) + " bytes (audio), " + std::to_string(gui_growth) + " bytes (GUI)");
}

void CheckStackPointer(CheckContext& ctx) {
  if (!StackProbe::Available()) {
    return ctx.Skip(std::string("only a 32-bit x86 build can see a moved stack pointer; this semhost is built for ") +
#if defined(__x86_64__)
                    "x86-64"
#elif defined(__aarch64__)
                    "arm64"
#else
                    "another architecture"
#endif
    );
  }
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  std::vector<std::string> moved_entries;
  int calls = 0;
  auto probe = [&](const std::string& what, const void* entry, const std::vector<uint32_t>& args) -> uint32_t {
    uint32_t answer = 0;
    int32_t moved = 0;
    host.RunAsCall([&] { StackProbe::Call(entry, args, &answer, &moved); });
    ++calls;
    if (moved != 0 && moved_entries.size() < 4) {
      moved_entries.push_back(what + " returned with the stack pointer moved by " + std::to_string(moved) +
                              " bytes (the callee removed its own arguments; the interface has the caller remove them)");
    }
    return answer;
  };
  auto word = [](const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); };
  const int32_t index = ctx.options().module_index;
  ModuleProperties properties;
  memset(&properties, 0, sizeof properties);
  ctx.Phase("calling getModuleProperties through the stack probe");
  probe("getModuleProperties", reinterpret_cast<const void*>(ctx.library().getModuleProperties()),
        {static_cast<uint32_t>(index), word(&properties)});
  const void* make = reinterpret_cast<const void*>(ctx.library().makeModule());
  const void* callback = reinterpret_cast<const void*>(&StandInHost::seaudioMaster);
  ctx.Phase("calling makeModule through the stack probe");
  AudioRecord* audio = host.CreateAudio([&](SEHostCallback, int32_t context) {
    return reinterpret_cast<AudioRecord*>(static_cast<uintptr_t>(
        probe("makeModule", make, {static_cast<uint32_t>(index), 1, word(callback), static_cast<uint32_t>(context)})));
  });
  if (!audio) return ctx.Fail("makeModule(" + std::to_string(index) + ", 1) answered null");
  const void* dispatcher = reinterpret_cast<const void*>(audio->dispatcher);
  auto send = [&](int32_t opcode, int32_t i, int32_t value, void* ptr, float opt) {
    return probe("the audio dispatcher", dispatcher,
                 {word(audio), static_cast<uint32_t>(opcode), static_cast<uint32_t>(i), static_cast<uint32_t>(value),
                  word(ptr), FloatBits(opt)});
  };
  ctx.Phase("calling the audio half's entries through the stack probe");
  std::vector<SEPinProperties> pins;
  for (int32_t i = 0; i < kPinLimit; ++i) {
    SEPinProperties p;
    memset(&p, 0, sizeof p);
    if (send(OP_GET_PIN_PROPERTIES, i, 0, &p, 0.0f) == 0) break;
    pins.push_back(p);
    host.SetPinDatatype(i, p.datatype);
  }
  host.SetAudioPinCount(AudioPinCount(pins), 64);
  send(OP_SET_SAMPLE_RATE, 0, 0, nullptr, 44100.0f);
  send(OP_SET_BLOCK_SIZE, 0, 64, nullptr, 0.0f);
  send(OP_OPEN, 0, 0, nullptr, 0.0f);
  send(OP_NOTIFY, 0, 0, nullptr, 0.0f);
  probe("process_function", reinterpret_cast<const void*>(audio->process_function), {word(audio->module), 0, 64});
  SEEvent ignored = {host.sample_clock(), 6, 0, 0, 0, nullptr};  // a type every module accepts and ignores
  probe("event_function", reinterpret_cast<const void*>(audio->event_function), {word(audio->module), word(&ignored)});
  ctx.Phase("calling the GUI half's entries through the stack probe");
  GuiRecord* gui = host.CreateGui([&](SEHostCallback, int32_t context) {
    return reinterpret_cast<GuiRecord*>(static_cast<uintptr_t>(
        probe("makeModule", make, {static_cast<uint32_t>(index), 2, word(callback), static_cast<uint32_t>(context)})));
  });
  if (gui) {
    const void* gui_dispatcher = reinterpret_cast<const void*>(gui->dispatcher);
    probe("the GUI dispatcher", gui_dispatcher, {word(gui), GUI_OP_OPEN, 1, 0, 0, 0});
    for (int32_t i = 0; i < static_cast<int32_t>(pins.size()); ++i) {
      probe("the GUI dispatcher", gui_dispatcher, {word(gui), GUI_OP_PIN_VALUE_CHANGE, static_cast<uint32_t>(i), 0, 0, 0});
    }
  }
  for (const std::string& problem : moved_entries) ctx.Fail(problem);
  ctx.Note(std::to_string(calls) + " calls through the probe, the stack pointer unchanged across each");
}

// ---- robustness ----

void CheckRandomSequence(CheckContext& ctx) {
  const uint64_t seed = ctx.options().seed;
  const int32_t steps = std::max<int32_t>(ctx.options().steps, 1);
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  ctx.Phase("starting the module");
  if (!StartOrFail(ctx, *session)) return;
  const std::vector<PinInfo> pins = Describe(session->pins());
  const std::vector<const PinInfo*> inputs = SettableInputs(pins);
  const int32_t block = session->block_size();
  const int32_t pin_count = static_cast<int32_t>(pins.size());
  Random random(seed);
  unsigned char scratch[256];
  const size_t orphans = StandInHost::OrphanCallbacks();
  int64_t counts[8] = {};
  ctx.Phase("running the random sequence");
  for (int32_t step = 0; step < steps; ++step) {
    CrashReporter::SetStep(step);
    memset(scratch, 0, sizeof scratch);
    const uint32_t pick = random.Below(100);
    const int32_t index = random.Between(-2, pin_count + 2);
    const int32_t value = random.Between(-1000, 100000);
    if (pick < 30 && !inputs.empty() && host.gui()) {  // the user changes a pin
      const PinInfo* pin = inputs[random.Below(static_cast<uint32_t>(inputs.size()))];
      session->Change(pin->index, SomeValue(*pin, random));
      ++counts[0];
    } else if (pick < 35 && host.gui()) {  // a notification for any pin index
      host.NotifyGui(index);
      ++counts[1];
    } else if (pick < 45 && host.gui()) {  // another GUI opcode of the interface (not close)
      static const int32_t kGuiOps[] = {GUI_OP_OPEN, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12};
      host.GuiDispatch(kGuiOps[random.Below(sizeof kGuiOps / sizeof kGuiOps[0])], index, value, scratch,
                       random.Float());
      ++counts[2];
    } else if (pick < 65 && host.audio()) {  // a block of audio
      host.RunBlock(random.Between(1, block));
      ++counts[3];
    } else if (pick < 90 && host.audio()) {  // another audio opcode of the interface (not open or close)
      static const int32_t kAudioOps[] = {OP_SET_SAMPLE_RATE, OP_SET_BLOCK_SIZE, 4, 5, OP_GET_PIN_PROPERTIES,
                                          OP_NOTIFY, 9, 11, OP_COMMAND, OP_GET_PROCESS_FUNCTION_INFO};
      const int32_t opcode = kAudioOps[random.Below(sizeof kAudioOps / sizeof kAudioOps[0])];
      const float rate = static_cast<float>(random.Between(8000, 192000));
      host.AudioDispatch(opcode, index, opcode == OP_SET_BLOCK_SIZE ? random.Between(1, block) : value, scratch,
                         opcode == OP_SET_SAMPLE_RATE ? rate : random.Float());
      ++counts[4];
    } else if (pick < 96) {  // a new GUI half
      host.CloseGui();
      session->CreateGui();
      ++counts[5];
    } else {  // a new audio half, opened
      host.CloseAudio();
      if (session->CreateAudio()) {
        host.AudioDispatch(OP_SET_BLOCK_SIZE, 0, block);
        host.AudioDispatch(OP_OPEN);
      }
      ++counts[6];
    }
    if ((step & 255) == 255) host.ClearTrace();
  }
  ctx.Phase("closing after the random sequence");
  session->Stop();
  if (StandInHost::OrphanCallbacks() != orphans) ctx.Fail("the module called the host outside any call into it");
  ctx.Note("seed " + std::to_string(seed) + ": " + std::to_string(steps) + " steps (" + std::to_string(counts[0]) +
           " pin changes, " + std::to_string(counts[1] + counts[2]) + " other GUI calls, " + std::to_string(counts[3]) +
           " blocks, " + std::to_string(counts[4]) + " audio opcodes, " + std::to_string(counts[5] + counts[6]) +
           " new halves) without a crash");
}

}  // namespace

// ---- the context ----

CheckContext::CheckContext(const sehost::ModuleLibrary& library, const CheckOptions& options, CallObserver* trace)
    : m_library(library), m_options(options), m_trace(trace) {}

std::unique_ptr<Session> CheckContext::NewSession(int32_t host_context) {
  return std::unique_ptr<Session>(new Session(m_library, m_options.module_index, this, host_context));
}

void CheckContext::Phase(const char* phase) { CrashReporter::SetPhase(phase); }

void CheckContext::Fail(const std::string& problem) { m_failures.push_back(problem); }
void CheckContext::Skip(const std::string& reason) {
  if (m_skip.empty()) m_skip = reason;
}
void CheckContext::Note(const std::string& note) { m_notes.push_back(note); }

void CheckContext::CallStarted(const TraceEntry& entry, const StandInHost& host) {
  static CrashReporter crumbs;
  crumbs.CallStarted(entry, host);
  if (entry.entry == Entry::kProcess) {
    ++m_process_calls;
  } else if (entry.entry == Entry::kEvent) {
    ++m_event_calls;
  } else if (entry.side != Side::kUnknown) {
    const Family family = entry.IsCallback() ? (entry.side == Side::kGui ? Family::kGuiCallback : Family::kAudioCallback)
                                             : (entry.side == Side::kGui ? Family::kGuiOp : Family::kAudioOp);
    ++m_counts[{static_cast<int>(family), entry.opcode}];
  }
  if (m_trace) m_trace->CallStarted(entry, host);
  if (on_start) on_start(entry, host);
}

void CheckContext::CallReturned(const TraceEntry& entry, const StandInHost& host) {
  static CrashReporter crumbs;
  crumbs.CallReturned(entry, host);
  if (on_return) on_return(entry, host);
  if (m_trace) m_trace->CallReturned(entry, host);
}

void CheckContext::LibraryCallStarted(const std::string& call) {
  static CrashReporter crumbs;
  crumbs.LibraryCallStarted(call);
  if (m_trace) m_trace->LibraryCallStarted(call);
  if (on_library_start) on_library_start(call);
}

void CheckContext::LibraryCallReturned(const std::string& answer) {
  static CrashReporter crumbs;
  crumbs.LibraryCallReturned(answer);
  if (on_library_return) on_library_return(answer);
  if (m_trace) m_trace->LibraryCallReturned(answer);
}

Verdict CheckContext::verdict() const {
  if (!m_failures.empty()) return Verdict::kFail;
  if (!m_skip.empty()) return Verdict::kSkip;
  return Verdict::kPass;
}

std::string CheckContext::Message() const {
  if (!m_failures.empty()) {
    std::vector<std::string> shown(m_failures.begin(), m_failures.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(m_failures.size(), 3)));
    std::string message = Join(shown, "; ");
    if (m_failures.size() > 3) message += "; and " + std::to_string(m_failures.size() - 3) + " more";
    return message;
  }
  if (!m_skip.empty()) return m_skip;
  return Join(m_notes, "; ");
}

nlohmann::json CheckContext::Result() const {
  const Verdict v = verdict();
  nlohmann::json calls = nlohmann::json::array();
  for (const auto& count : m_counts) calls.push_back({count.first.first, count.first.second, count.second});
  return {{"status", v == Verdict::kPass ? "pass" : v == Verdict::kFail ? "fail" : "skip"},
          {"message", Message()},
          {"failures", m_failures},
          {"calls", calls},
          {"process_calls", m_process_calls},
          {"event_calls", m_event_calls}};
}

const std::vector<Check>& AllChecks() {
  static const std::vector<Check> checks = {
      {"load.exports", "the library loads and exports getModuleProperties and makeModule", CheckExports},
      {"load.properties", "getModuleProperties fills the module's record: texts, flags, sdk_version; nothing outside it", CheckProperties},
      {"load.other-indices", "indices the library does not hold answer 0 and write nothing but sdk_version", CheckOtherIndices},
      {"records.audio", "the audio record: magic \"LPES\", version 1, host value, every entry set, reserved words 0", CheckAudioRecord},
      {"records.gui", "the GUI record: magic \"MPES\", version 1, host value, dispatcher set, reserved words 0", CheckGuiRecord},
      {"records.refused", "makeModule answers null for unknown types and modules, without a host call", CheckRefusedHalves},
      {"records.callback-address", "every callback names the calling half's own record, during construction too", CheckCallbackAddress},
      {"pins.flags-rule", "every pin obeys the pin-flags rule (IO_PATCH_STORE only on private, output or GUI pins)", CheckPinFlags},
      {"pins.record-bounds", "pins answer 1 until the first 0; nothing is written outside the 32-byte record", CheckPinRecordBounds},
      {"pins.names", "every pin has a readable, non-empty name and a valid direction", CheckPinNames},
      {"pins.enum-lists", "every enumerated pin has a list the framework's reader reads, with at least one choice", CheckEnumLists},
      {"opcodes.audio-outside", "audio opcodes outside the interface answer 0 and cause no callback", CheckAudioOutside},
      {"opcodes.gui-outside", "GUI opcodes outside the interface answer 0 and cause no callback", CheckGuiOutside},
      {"lifecycle.open-process-close", "open, processing and close answer as the interface says, with no stray callback", CheckOpenProcessClose},
      {"lifecycle.process-function", "a switch of the process function is in the record first, then announced once", CheckProcessFunction},
      {"lifecycle.events", "events the module posts are not in the past and come back when due", CheckEvents},
      {"gui.every-choice", "a change to every choice of every enumerated input writes the GUI outputs", CheckEveryChoice},
      {"gui.reentrancy", "notifications sent back from inside the GUI half's callbacks change no output", CheckReentrancy},
      {"gui.determinism", "the same inputs give bit-identical outputs, on one instance and on two", CheckDeterminism},
      {"gui.instances", "several instances alive at once do not disturb each other", CheckInstances},
      {"hygiene.fp-environment", "every call leaves the rounding mode, exception masks, MXCSR and x87 control word as it found them", CheckFpEnvironment},
      {"hygiene.instance-leak", "creating and closing many instances leaves the heap as it was", CheckInstanceLeak},
      {"hygiene.stack-pointer", "32-bit x86: every entry returns with the stack pointer where it was (the caller removes arguments)", CheckStackPointer},
      {"robustness.random-sequence", "a seeded random sequence of calls of the interface runs without a crash", CheckRandomSequence},
  };
  return checks;
}

const Check* FindCheck(const std::string& name) {
  for (const Check& check : AllChecks()) {
    if (name == check.name) return &check;
  }
  return nullptr;
}

}  // namespace semhost
