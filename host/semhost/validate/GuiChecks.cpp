// The GUI half's evaluation: every choice, re-entrant notifications,
// determinism, several instances at once.

#include "Checks.h"

#include <algorithm>
#include <set>

#include "CheckTools.h"
#include "CrashReporter.h"
#include "FloatBits.h"
#include "SeededRandom.h"

namespace semhost {

namespace {

using sehost::Side;
using sehost::StandInHost;
using sehost::TraceEntry;
using setest::FloatBits;
using setest::SeededRandom;

struct Step {
  int32_t pin;
  uint32_t bits;
};

// Runs `steps` on a fresh session and answers the bits of every GUI output after each.
std::vector<std::vector<uint32_t>> Replay(CheckContext& ctx, const std::vector<Step>& steps,
                                          const std::vector<const PinInfo*>& outputs,
                                          const std::function<sehost::Subscription(StandInHost&)>& prepare = nullptr) {
  std::vector<std::vector<uint32_t>> results;
  auto session = ctx.NewSession();
  std::string error;
  if (!session->Start(&error)) {
    ctx.Fail(error);
    return results;
  }
  // Ends before the session's closing calls.
  const sehost::Subscription prepared = prepare ? prepare(session->host()) : sehost::Subscription();
  for (const Step& step : steps) {
    session->Change(step.pin, step.bits);
    std::vector<uint32_t> row;
    for (const PinInfo* out : outputs) row.push_back(session->PinBits(out->index));
    results.push_back(row);
  }
  return results;
}

std::vector<Step> RandomSteps(const std::vector<PinInfo>& pins, uint64_t seed, size_t count) {
  SeededRandom random(seed);
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
      ctx.Skip("the module makes no GUI half: " + MakeModuleCall(ctx.options().module_index, MT_GUI) + " answered null");
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

// What a GUI half that writes an input pin most likely did: wrote through the
// shared handle after a second GetPin moved it. "" when it wrote no input.
std::string InputWritten(const std::vector<PinInfo>& pins, const std::set<int32_t>& written) {
  for (int32_t index : written) {
    if (index < 0 || static_cast<size_t>(index) >= pins.size() || !pins[static_cast<size_t>(index)].IsInput()) continue;
    const std::string name = "\"" + pins[static_cast<size_t>(index)].name + "\"";
    return "; it wrote input pin " + std::to_string(index) + " " + name + " instead (GUI_HC_SET_PIN_VALUE index=" +
           std::to_string(index) + "): GetPin hands out one shared handle, so a GetPin in the arguments, as in " +
           "GetPin(out)->SetValueFloat(f(GetPin(in)->GetValueInt())), moves the handle to " + name +
           " before the write; read the value into a local first";
  }
  return "";
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
      const std::string wrote_input = ctx.verdict() == Verdict::kFail ? "" : InputWritten(pins, written);  // explained once
      std::vector<std::string> values;
      for (const PinInfo* out : outputs) {
        if (!written.count(out->index)) {
          ctx.Fail(pin->name + "=" + choice.text + " did not write " + out->name + wrote_input);
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
    return host.OnCallback([&reentered, &steps](StandInHost& h, const TraceEntry& e) {
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

}  // namespace

const std::vector<Check>& GuiChecks() {
  static const std::vector<Check> checks = {
      {"gui.every-choice", "a change to every choice of every enumerated input writes the GUI outputs", CheckEveryChoice},
      {"gui.reentrancy", "notifications sent back from inside the GUI half's callbacks change no output", CheckReentrancy},
      {"gui.determinism", "the same inputs give bit-identical outputs, on one instance and on two", CheckDeterminism},
      {"gui.instances", "several instances alive at once do not disturb each other", CheckInstances},
  };
  return checks;
}

}  // namespace semhost
