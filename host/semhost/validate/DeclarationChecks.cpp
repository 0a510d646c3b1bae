// What the pin declarations mean for a host, beyond their own rules: which
// pins can repeat, which controls a host can set, and where the audio-side
// indices differ from the declaration indices.

#include "Checks.h"

#include "CheckTools.h"
#include "Names.h"
#include "Text.h"

namespace semhost {

namespace {

std::string Quoted(const SEPinProperties& p) { return "\"" + Printable(p.name) + "\""; }

// The module's declarations, or false with the check failed.
bool Declarations(CheckContext& ctx, std::vector<SEPinProperties>* pins) {
  auto session = ctx.NewSession();
  std::string error;
  ctx.Phase("reading pin properties with OP_GET_PIN_PROPERTIES");
  if (!session->ReadAudioPins(&error)) {
    ctx.Fail(error);
    return false;
  }
  *pins = session->pins();
  return true;
}

bool Repeats(const SEPinProperties& p) { return SEPinHasAudioSide(p) && (p.flags & IO_REPEATING) != 0; }

// The framework repeats only the last declarations, and only while they are
// audio-side pins with IO_REPEATING: a repeating pin with anything else after
// it never repeats, and the module keeps one copy of it whatever the host gives.
void CheckRepeatingLast(CheckContext& ctx) {
  std::vector<SEPinProperties> pins;
  if (!Declarations(ctx, &pins)) return;
  size_t group = pins.size();
  while (group > 0 && Repeats(pins[group - 1])) --group;
  std::vector<std::string> stranded, after;
  for (size_t i = 0; i < group; ++i) {
    if (pins[i].flags & IO_REPEATING) {
      stranded.push_back(Quoted(pins[i]));
      after.clear();
    } else if (!stranded.empty()) {
      after.push_back("pin " + std::to_string(i) + " " + Quoted(pins[i]));
    }
  }
  if (stranded.empty()) {
    ctx.Note(group < pins.size() ? std::to_string(pins.size() - group) + " last pin(s) repeat as a group"
                                 : "no pin repeats");
    return;
  }
  if (after.empty()) after.push_back("a pin without IO_REPEATING");
  ctx.Fail(Join(stranded, " and ") + " " + (stranded.size() > 1 ? "are" : "is") + " IO_REPEATING but " +
           Join(after, " and ") + " " + (after.size() > 1 ? "are" : "is") +
           " declared after: only the last declarations repeat, so the module gets one copy whatever channels a "
           "host gives; declare the pins that repeat last");
}

// A host sets a control by writing the variable its declaration names; a
// control without one keeps the value the module gives it.
void CheckControlVariables(CheckContext& ctx) {
  std::vector<SEPinProperties> pins;
  if (!Declarations(ctx, &pins)) return;
  size_t controls = 0;
  for (size_t i = 0; i < pins.size(); ++i) {
    const SEPinProperties& p = pins[i];
    if (p.direction != DR_IN || p.datatype == DT_FSAMPLE || !SEPinHasAudioSide(p)) continue;
    ++controls;
    if (p.variable_address) continue;
    ctx.Warn("pin " + std::to_string(i) + " " + Quoted(p) + " (" + DirectionName(p.direction) + ", " +
             DatatypeName(p.datatype) + ") is declared without a variable: a host writes a control's value into " +
             "the variable its declaration names, so no host can ever set " + Quoted(p) +
             "; point variable_address at the member that holds its value");
  }
  ctx.Note(controls ? std::to_string(controls) + " control(s), each with a variable a host writes"
                    : "the module declares no control input on its audio side");
}

// GUI-only pins get no audio-side pin: every audio-side pin declared after
// one has a smaller audio-side index than its declaration index.
void CheckAudioIndices(CheckContext& ctx) {
  std::vector<SEPinProperties> pins;
  if (!Declarations(ctx, &pins)) return;
  std::vector<std::string> gui_first, shifted;
  int32_t audio = 0;
  int32_t last_declaration = -1;
  std::vector<std::string> gui_seen;
  for (size_t i = 0; i < pins.size(); ++i) {
    if (!SEPinHasAudioSide(pins[i])) {
      gui_seen.push_back("pin " + std::to_string(i) + " " + Quoted(pins[i]));
      continue;
    }
    gui_first = gui_seen;
    if (static_cast<int32_t>(i) != audio) {
      shifted.push_back(Quoted(pins[i]) + " is declaration " + std::to_string(i) + " but GetPin(" + std::to_string(audio) + ")");
      last_declaration = static_cast<int32_t>(i);
    }
    ++audio;
  }
  if (shifted.empty()) {
    ctx.Note(std::to_string(audio) + " audio-side pin(s), each at its declaration index");
    return;
  }
  ctx.Warn("GUI-only " + Join(gui_first, ", ") + " declared before audio-side pins shifts their indices: " +
           Join(shifted, ", ") + "; audio code that passes declaration indices to GetPin reads past the end: GetPin(" +
           std::to_string(last_declaration) + ") with " + std::to_string(audio) +
           " audio-side pin(s). Declare GUI-only pins last, or number audio-side pins without them");
}

}  // namespace

const std::vector<Check>& DeclarationChecks() {
  static const std::vector<Check> checks = {
      {"declarations.repeating-last", "pins that repeat (IO_REPEATING) are the last declared, so a host can repeat them", CheckRepeatingLast},
      {"declarations.control-variables", "every control input names the variable a host writes its value into", CheckControlVariables},
      {"declarations.audio-indices", "no GUI-only pin before an audio-side pin, which would shift the audio-side indices", CheckAudioIndices},
  };
  return checks;
}

}  // namespace semhost
