// Opcodes outside the interface, sent to both halves: answered 0, no callback.

#include "Checks.h"

#include "CheckTools.h"
#include "CrashReporter.h"

namespace semhost {

namespace {

using sehost::StandInHost;

// Codes just past each family's table and far from it. None is a row of its
// family's table, so none is a contract violation either (those are rows
// too, and are never sent).
constexpr int32_t kAudioProbes[] = {14, 15, 16, 20, 22, 64, 100, 255, 256, 1000, 65536, -1, -2, -100, kMinInt, kMaxInt};
constexpr int32_t kGuiProbes[] = {13, 14, 15, 16, 20, 64, 100, 255, 256, 1000, 65536, -1, -2, -100, kMinInt, kMaxInt};

template <size_t N, size_t M>
constexpr bool OutsideTable(const int32_t (&probes)[N], const SECode (&table)[M]) {
  for (int32_t probe : probes) {
    if (InTable(table, probe)) return false;
  }
  return true;
}
static_assert(OutsideTable(kAudioProbes, kAudioOpcodeTable), "an audio probe is an opcode of the interface");
static_assert(OutsideTable(kGuiProbes, kGuiOpcodeTable), "a GUI probe is an opcode of the interface");

// "7 and 10": the table's contract violations, which the check leaves out.
template <size_t M>
std::string Violations(const SECode (&table)[M]) {
  std::vector<std::string> codes;
  for (const SECode& row : table) {
    if (row.kind == SE_CODE_VIOLATION) codes.push_back(std::to_string(row.value));
  }
  std::string text;
  for (size_t i = 0; i < codes.size(); ++i) text += (i == 0 ? "" : i + 1 == codes.size() ? " and " : ", ") + codes[i];
  return text;
}

// Sends every probe to one half; `phase` is a static text.
template <size_t N, size_t M>
void SendOutside(CheckContext& ctx, bool gui, const char* phase, const int32_t (&probes)[N], const SECode (&table)[M]) {
  auto session = ctx.NewSession();
  std::string error;
  if (!session->StartAudio(&error)) return ctx.Fail(error);
  if (gui && !session->CreateGui()) {
    return ctx.Skip("the module makes no GUI half: makeModule(" + std::to_string(ctx.options().module_index) +
                    ", 2) answered null");
  }
  StandInHost& host = session->host();
  unsigned char scratch[256] = {};
  ctx.Phase(phase);
  for (int32_t opcode : probes) {
    const size_t before = host.Trace().size();
    CrashReporter::SetStep(opcode);
    const se_ret_t answer = gui ? host.GuiDispatch(opcode, 1, 2, scratch, 0.5f) : host.AudioDispatch(opcode, 1, 2, scratch, 0.5f);
    size_t callbacks = 0;
    for (size_t i = before; i < host.Trace().size(); ++i) callbacks += host.Trace()[i].IsCallback() ? 1 : 0;
    if (answer != 0) ctx.Fail("opcode " + std::to_string(opcode) + " answered " + std::to_string(answer) + " (want 0)");
    if (callbacks) ctx.Fail("opcode " + std::to_string(opcode) + " made " + std::to_string(callbacks) + " callback(s)");
  }
  const std::string never_sent = Violations(table);
  ctx.Note(std::to_string(N) + " opcodes outside the interface answered 0 without a callback" +
           (never_sent.empty() ? "" : " (" + never_sent + (never_sent.find(' ') == std::string::npos ? " is" : " are") + " never sent)"));
}

void CheckAudioOutside(CheckContext& ctx) {
  SendOutside(ctx, false, "sending audio opcodes outside the interface", kAudioProbes, kAudioOpcodeTable);
}

void CheckGuiOutside(CheckContext& ctx) {
  SendOutside(ctx, true, "sending GUI opcodes outside the interface", kGuiProbes, kGuiOpcodeTable);
}

}  // namespace

const std::vector<Check>& OpcodeChecks() {
  static const std::vector<Check> checks = {
      {"opcodes.audio-outside", "audio opcodes outside the interface answer 0 and cause no callback", CheckAudioOutside},
      {"opcodes.gui-outside", "GUI opcodes outside the interface answer 0 and cause no callback", CheckGuiOutside},
  };
  return checks;
}

}  // namespace semhost
