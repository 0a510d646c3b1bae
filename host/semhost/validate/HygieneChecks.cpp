// What a module must leave as it found it: the floating-point environment,
// the heap, the stack pointer.

#include "Checks.h"

#include <string.h>

#include <algorithm>
#include <set>

#include "CheckTools.h"
#include "CrashReporter.h"
#include "FloatBits.h"
#include "FpEnvironment.h"
#include "HeapMeter.h"
#include "Names.h"
#include "SeededRandom.h"
#include "StackProbe.h"

namespace semhost {

namespace {

using sehost::Entry;
using sehost::Side;
using sehost::StandInHost;
using sehost::TraceEntry;
using setest::FloatBits;
using setest::SeededRandom;

// Runs every kind of call a host makes, through the context's observers.
void Workload(CheckContext& ctx) {
  auto session = ctx.NewSession();
  ModuleProperties properties;
  memset(&properties, 0, sizeof properties);
  session->GetProperties(ctx.options().module_index, &properties);
  std::string error;
  if (!session->StartAudio(&error)) return;
  StandInHost& host = session->host();
  for (int i = 0; i < 4; ++i) host.schedule().RunBlock(256);
  host.AudioDispatch(OP_NOTIFY);
  host.AudioDispatch(OP_GET_PROCESS_FUNCTION_INFO);
  if (!session->CreateGui()) return session->Stop();  // a module may make no GUI half
  host.GuiDispatch(GUI_OP_OPEN, 1);
  const std::vector<PinInfo> pins = Describe(session->pins());
  SeededRandom random(ctx.options().seed);
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
  const sehost::Subscription on_start = ctx.OnCallStarted([&](const TraceEntry& e, const StandInHost&) {
    if (!e.IsCallback()) entered.push_back(FpEnvironment::Capture());
  });
  const sehost::Subscription on_return = ctx.OnCallReturned([&](const TraceEntry& e, const StandInHost&) {
    if (e.IsCallback()) return;
    const std::string name = e.entry == Entry::kProcess ? "process_function"
                             : e.entry == Entry::kEvent ? "event_function"
                                                         : OpcodeLabel(e.side == Side::kGui ? Family::kGuiOp : Family::kAudioOp, e.opcode);
    verify(name + (e.entry == Entry::kDispatcher && e.side == Side::kGui && e.opcode == GUI_OP_PIN_VALUE_CHANGE
                       ? " index=" + std::to_string(e.index)
                       : ""));
  });
  const sehost::Subscription on_library_start = ctx.OnLibraryCallStarted([&](const std::string& call) {
    library_call = call;
    entered.push_back(FpEnvironment::Capture());
  });
  const sehost::Subscription on_library_return =
      ctx.OnLibraryCallReturned([&](const std::string&) { verify(library_call.substr(0, library_call.find(' '))); });

  const FpEnvironment original = FpEnvironment::Capture();
  ctx.Phase("running every kind of call in the default floating-point environment");
  Workload(ctx);
  const FpEnvironment unusual = FpEnvironment::Unusual();
  unusual.Apply();
  ctx.Phase("running every kind of call with rounding toward zero, flush-to-zero and x87 double precision");
  Workload(ctx);
  original.Apply();
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
    if (!session->CreateAudio()) return ctx.Fail(MakeModuleCall(ctx.options().module_index, MT_AUDIO) + " answered null");
    pins = host.QueryPins();
    host.CloseAudio();
  }
  host.schedule().SetAudioPinCount(AudioPinCount(pins), 64);
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
           std::to_string(audio_growth) + " bytes (audio), " +
           (has_gui ? std::to_string(gui_growth) + " bytes (GUI)" : "no GUI half"));
}

const char* BuildArchitecture() {
#if defined(__x86_64__)
  return "x86-64";
#elif defined(__aarch64__)
  return "arm64";
#else
  return "another architecture";
#endif
}

uint32_t Word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// Calls every entry of one module through the stack probe, in a host's
// order: the library's exports, the audio half's record, then the GUI half's.
// Keeps the first four entries that moved the stack pointer.
class StackPointerCheck {
 public:
  explicit StackPointerCheck(CheckContext& ctx) : m_ctx(ctx), m_session(ctx.NewSession()), m_host(m_session->host()) {}

  void Run() {
    ProbeProperties();
    m_ctx.Phase("calling makeModule through the stack probe");
    AudioRecord* audio = m_host.CreateAudio([&](SEHostCallback, int32_t context) {
      return reinterpret_cast<AudioRecord*>(static_cast<uintptr_t>(Make(MT_AUDIO, context)));
    });
    if (!audio) return m_ctx.Fail(MakeModuleCall(Index(), MT_AUDIO) + " answered null");
    ProbeAudio(audio);
    ProbeGui();
    for (const std::string& problem : m_moved) m_ctx.Fail(problem);
    m_ctx.Note(std::to_string(m_calls) + " calls through the probe, the stack pointer unchanged across each");
  }

 private:
  int32_t Index() const { return m_ctx.options().module_index; }

  uint32_t Probe(const std::string& what, const void* entry, const std::vector<uint32_t>& args) {
    uint32_t answer = 0;
    int32_t moved = 0;
    m_host.RunAsCall([&] { StackProbe::Call(entry, args, &answer, &moved); });
    ++m_calls;
    if (moved != 0 && m_moved.size() < 4) {
      m_moved.push_back(what + " returned with the stack pointer moved by " + std::to_string(moved) +
                        " bytes (the callee removed its own arguments; the interface has the caller remove them)");
    }
    return answer;
  }

  void ProbeProperties() {
    ModuleProperties properties;
    memset(&properties, 0, sizeof properties);
    m_ctx.Phase("calling getModuleProperties through the stack probe");
    Probe("getModuleProperties", reinterpret_cast<const void*>(m_ctx.library().getModuleProperties()),
          {static_cast<uint32_t>(Index()), Word(&properties)});
  }

  uint32_t Make(int32_t type, int32_t context) {
    const void* make = reinterpret_cast<const void*>(m_ctx.library().makeModule());
    const void* callback = reinterpret_cast<const void*>(&StandInHost::seaudioMaster);
    return Probe("makeModule", make,
                 {static_cast<uint32_t>(Index()), static_cast<uint32_t>(type), Word(callback), static_cast<uint32_t>(context)});
  }

  uint32_t Send(AudioRecord* audio, int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    return Probe("the audio dispatcher", reinterpret_cast<const void*>(audio->dispatcher),
                 {Word(audio), static_cast<uint32_t>(opcode), static_cast<uint32_t>(index), static_cast<uint32_t>(value),
                  Word(ptr), FloatBits(opt)});
  }

  void ProbeAudio(AudioRecord* audio) {
    m_ctx.Phase("calling the audio half's entries through the stack probe");
    std::vector<SEPinProperties> pins;
    for (int32_t i = 0; i < kPinLimit; ++i) {
      SEPinProperties p;
      memset(&p, 0, sizeof p);
      if (Send(audio, OP_GET_PIN_PROPERTIES, i, 0, &p, 0.0f) == 0) break;
      pins.push_back(p);
      m_host.SetPinDatatype(i, p.datatype);
    }
    m_pin_count = static_cast<int32_t>(pins.size());
    m_host.schedule().SetAudioPinCount(AudioPinCount(pins), 64);
    Send(audio, OP_SET_SAMPLE_RATE, 0, 0, nullptr, 44100.0f);
    Send(audio, OP_SET_BLOCK_SIZE, 0, 64, nullptr, 0.0f);
    Send(audio, OP_OPEN, 0, 0, nullptr, 0.0f);
    Send(audio, OP_NOTIFY, 0, 0, nullptr, 0.0f);
    Probe("process_function", reinterpret_cast<const void*>(audio->process_function), {Word(audio->module), 0, 64});
    // A type every module accepts and ignores.
    SEEvent ignored = {m_host.schedule().sample_clock(), EVT_CODE_6, 0, 0, 0, nullptr};
    Probe("event_function", reinterpret_cast<const void*>(audio->event_function), {Word(audio->module), Word(&ignored)});
  }

  void ProbeGui() {
    m_ctx.Phase("calling the GUI half's entries through the stack probe");
    GuiRecord* gui = m_host.CreateGui([&](SEHostCallback, int32_t context) {
      return reinterpret_cast<GuiRecord*>(static_cast<uintptr_t>(Make(MT_GUI, context)));
    });
    if (!gui) return;
    const void* dispatcher = reinterpret_cast<const void*>(gui->dispatcher);
    Probe("the GUI dispatcher", dispatcher, {Word(gui), GUI_OP_OPEN, 1, 0, 0, 0});
    for (int32_t i = 0; i < m_pin_count; ++i) {
      Probe("the GUI dispatcher", dispatcher, {Word(gui), GUI_OP_PIN_VALUE_CHANGE, static_cast<uint32_t>(i), 0, 0, 0});
    }
  }

  CheckContext& m_ctx;
  std::unique_ptr<Session> m_session;
  StandInHost& m_host;
  std::vector<std::string> m_moved;  // the first four entries that moved the stack pointer
  int m_calls = 0;
  int32_t m_pin_count = 0;
};

void CheckStackPointer(CheckContext& ctx) {
  if (!StackProbe::Available()) {
    return ctx.Skip(std::string("only a 32-bit x86 build can see a moved stack pointer; this semhost is built for ") +
                    BuildArchitecture());
  }
  StackPointerCheck(ctx).Run();
}

}  // namespace

const std::vector<Check>& HygieneChecks() {
  static const std::vector<Check> checks = {
      {"hygiene.fp-environment", "every call leaves the rounding mode, exception masks, MXCSR and x87 control word as it found them", CheckFpEnvironment},
      {"hygiene.instance-leak", "creating and closing many instances leaves the heap as it was", CheckInstanceLeak},
      {"hygiene.stack-pointer", "32-bit x86: every entry returns with the stack pointer where it was (the caller removes arguments)", CheckStackPointer},
  };
  return checks;
}

}  // namespace semhost
