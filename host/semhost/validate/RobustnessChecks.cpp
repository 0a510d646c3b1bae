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

void CheckRandomSequence(CheckContext& ctx) {
  const uint64_t seed = ctx.options().seed;
  const int32_t steps = std::max<int32_t>(ctx.options().steps, 1);
  auto session = ctx.NewSession();
  StandInHost& host = session->host();
  ctx.Phase("starting the module");
  std::string error;
  if (!session->StartAudio(&error)) return ctx.Fail(error);
  const bool has_gui = session->CreateGui() != nullptr;  // a module may make none: its steps are left out
  const std::vector<PinInfo> pins = Describe(session->pins());
  const std::vector<const PinInfo*> inputs = SettableInputs(pins);
  const int32_t block = session->block_size();
  const int32_t pin_count = static_cast<int32_t>(pins.size());
  SeededRandom random(seed);
  unsigned char scratch[256];
  const size_t orphans = host.orphan_callbacks();
  int64_t counts[8] = {};
  // The opcodes the sequence sends as "another opcode": open, close and the
  // pin change have steps of their own.
  const std::vector<int32_t> gui_ops = InterfaceOpcodesBut(Family::kGuiOp, {GUI_OP_CLOSE, GUI_OP_PIN_VALUE_CHANGE});
  const std::vector<int32_t> audio_ops = InterfaceOpcodesBut(Family::kAudioOp, {OP_OPEN, OP_CLOSE});
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
      host.GuiDispatch(gui_ops[random.Below(static_cast<uint32_t>(gui_ops.size()))], index, value, scratch,
                       random.Float());
      ++counts[2];
    } else if (pick < 65 && host.audio()) {  // a block of audio
      host.schedule().RunBlock(random.Between(1, block));
      ++counts[3];
    } else if (pick < 90 && host.audio()) {  // another audio opcode of the interface (not open or close)
      const int32_t opcode = audio_ops[random.Below(static_cast<uint32_t>(audio_ops.size()))];
      const float rate = static_cast<float>(random.Between(8000, 192000));
      host.AudioDispatch(opcode, index, opcode == OP_SET_BLOCK_SIZE ? random.Between(1, block) : value, scratch,
                         opcode == OP_SET_SAMPLE_RATE ? rate : random.Float());
      ++counts[4];
    } else if (pick < 96 && has_gui) {  // a new GUI half
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
  if (host.orphan_callbacks() != orphans) ctx.Fail("the module called the host outside any call into it");
  ctx.Note("seed " + std::to_string(seed) + ": " + std::to_string(steps) + " steps (" + std::to_string(counts[0]) +
           " pin changes, " + std::to_string(counts[1] + counts[2]) + " other GUI calls, " + std::to_string(counts[3]) +
           " blocks, " + std::to_string(counts[4]) + " audio opcodes, " + std::to_string(counts[5] + counts[6]) +
           " new halves) without a crash" + (has_gui ? "" : "; the module makes no GUI half"));
}

}  // namespace

const std::vector<Check>& RobustnessChecks() {
  static const std::vector<Check> checks = {
      {"robustness.random-sequence", "a seeded random sequence of calls of the interface runs without a crash", CheckRandomSequence},
  };
  return checks;
}

}  // namespace semhost
