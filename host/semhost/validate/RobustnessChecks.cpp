// A seeded random sequence of in-contract calls.

#include "Checks.h"

#include <string.h>

#include <algorithm>
#include <initializer_list>

#include "CheckTools.h"
#include "CrashReporter.h"
#include "Names.h"
#include "SeededRandom.h"

namespace semhost {

namespace {

using sehost::StandInHost;
using setest::SeededRandom;

// The family's codes of the interface (contract violations left out), in
// table order, but those in `left_out`.
std::vector<int32_t> InterfaceOpcodesBut(Family family, std::initializer_list<int32_t> left_out) {
  std::vector<int32_t> codes;
  for (int32_t code : InterfaceOpcodes(family)) {
    if (std::find(left_out.begin(), left_out.end(), code) == left_out.end()) codes.push_back(code);
  }
  return codes;
}

// A seeded random sequence of the interface's calls on one session. The
// draws come in a fixed order per step, so a seed replays the same sequence.
class RandomSequence {
 public:
  RandomSequence(CheckContext& ctx, Session& session)
      : m_session(session), m_host(session.host()), m_random(ctx.options().seed) {}

  // Everything the steps draw from, once the halves are there.
  void Prepare() {
    m_has_gui = m_session.CreateGui() != nullptr;  // a module may make none: its steps are left out
    m_pins = Describe(m_session.pins());
    m_inputs = SettableInputs(m_pins);
    m_block = m_session.block_size();
  }

  void Step() {
    memset(m_scratch, 0, sizeof m_scratch);
    const uint32_t pick = m_random.Below(100);
    const int32_t index = m_random.Between(-2, static_cast<int32_t>(m_pins.size()) + 2);
    const int32_t value = m_random.Between(-1000, 100000);
    if (pick < 30 && !m_inputs.empty() && m_host.gui()) {  // the user changes a pin
      const PinInfo* pin = m_inputs[m_random.Below(static_cast<uint32_t>(m_inputs.size()))];
      m_session.Change(pin->index, SomeValue(*pin, m_random));
      ++m_counts[0];
    } else if (pick < 35 && m_host.gui()) {  // a notification for any pin index
      m_host.NotifyGui(index);
      ++m_counts[1];
    } else if (pick < 45 && m_host.gui()) {  // another GUI opcode of the interface (not close)
      m_host.GuiDispatch(m_gui_ops[m_random.Below(static_cast<uint32_t>(m_gui_ops.size()))], index, value, m_scratch,
                         m_random.Float());
      ++m_counts[2];
    } else if (pick < 65 && m_host.audio()) {  // a block of audio
      m_host.schedule().RunBlock(m_random.Between(1, m_block));
      ++m_counts[3];
    } else if (pick < 90 && m_host.audio()) {  // another audio opcode of the interface (not open or close)
      SendAudioOpcode(index, value);
    } else if (pick < 96 && m_has_gui) {  // a new GUI half
      m_host.CloseGui();
      m_session.CreateGui();
      ++m_counts[5];
    } else {  // a new audio half, opened
      RenewAudio();
    }
  }

  // What the steps did, for the check's note.
  std::string Summary() const {
    return std::to_string(m_counts[0]) + " pin changes, " + std::to_string(m_counts[1] + m_counts[2]) +
           " other GUI calls, " + std::to_string(m_counts[3]) + " blocks, " + std::to_string(m_counts[4]) +
           " audio opcodes, " + std::to_string(m_counts[5] + m_counts[6]) + " new halves";
  }
  bool has_gui() const { return m_has_gui; }

 private:
  void SendAudioOpcode(int32_t index, int32_t value) {
    const int32_t opcode = m_audio_ops[m_random.Below(static_cast<uint32_t>(m_audio_ops.size()))];
    const float rate = static_cast<float>(m_random.Between(8000, 192000));
    m_host.AudioDispatch(opcode, index, opcode == OP_SET_BLOCK_SIZE ? m_random.Between(1, m_block) : value, m_scratch,
                         opcode == OP_SET_SAMPLE_RATE ? rate : m_random.Float());
    ++m_counts[4];
  }

  void RenewAudio() {
    m_host.CloseAudio();
    if (m_session.CreateAudio()) {
      m_host.AudioDispatch(OP_SET_BLOCK_SIZE, 0, m_block);
      m_host.AudioDispatch(OP_OPEN);
    }
    ++m_counts[6];
  }
  Session& m_session;
  StandInHost& m_host;
  SeededRandom m_random;
  bool m_has_gui = false;
  std::vector<PinInfo> m_pins;
  std::vector<const PinInfo*> m_inputs;
  int32_t m_block = 0;
  alignas(16) unsigned char m_scratch[256] = {};  // any record an opcode may take, aligned as one
  int64_t m_counts[7] = {};
  // The opcodes the sequence sends as "another opcode": open, close and the
  // pin change have steps of their own.
  const std::vector<int32_t> m_gui_ops = InterfaceOpcodesBut(Family::kGuiOp, {GUI_OP_CLOSE, GUI_OP_PIN_VALUE_CHANGE});
  const std::vector<int32_t> m_audio_ops = InterfaceOpcodesBut(Family::kAudioOp, {OP_OPEN, OP_CLOSE});
};

void CheckRandomSequence(CheckContext& ctx) {
  const int32_t steps = std::max<int32_t>(ctx.options().steps, 1);
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  ctx.Phase("starting the module");
  std::string error;
  if (!session->StartAudio(&error)) return ctx.Fail(error);
  RandomSequence sequence(ctx, *session);
  sequence.Prepare();
  const size_t orphans = host.orphan_callbacks();
  ctx.Phase("running the random sequence");
  for (int32_t step = 0; step < steps; ++step) {
    CrashReporter::SetStep(step);
    sequence.Step();
    if ((step & 255) == 255) host.ClearTrace();
  }
  ctx.Phase("closing after the random sequence");
  session->Stop();
  if (host.orphan_callbacks() != orphans) ctx.Fail("the module called the host outside any call into it");
  ctx.Note("seed " + std::to_string(ctx.options().seed) + ": " + std::to_string(steps) + " steps (" + sequence.Summary() +
           ") without a crash" + (sequence.has_gui() ? "" : "; the module makes no GUI half"));
}

}  // namespace

const std::vector<Check>& RobustnessChecks() {
  static const std::vector<Check> checks = {
      {"robustness.random-sequence", "a seeded random sequence of calls of the interface runs without a crash", CheckRandomSequence},
  };
  return checks;
}

}  // namespace semhost
