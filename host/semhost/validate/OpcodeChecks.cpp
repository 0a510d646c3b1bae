// Opcodes outside the interface, sent to both halves: answered 0, no callback.

#include "Checks.h"

#include "CheckTools.h"
#include "CrashReporter.h"

namespace semhost {

namespace {

using sehost::StandInHost;

void CheckAudioOutside(CheckContext& ctx) {
  auto session = ctx.NewSession();
  std::string error;
  if (!session->StartAudio(&error)) return ctx.Fail(error);
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
  std::string error;
  if (!session->StartAudio(&error)) return ctx.Fail(error);
  if (!session->CreateGui()) {
    return ctx.Skip("the module makes no GUI half: makeModule(" + std::to_string(ctx.options().module_index) +
                    ", 2) answered null");
  }
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

}  // namespace

const std::vector<Check>& OpcodeChecks() {
  static const std::vector<Check> checks = {
      {"opcodes.audio-outside", "audio opcodes outside the interface answer 0 and cause no callback", CheckAudioOutside},
      {"opcodes.gui-outside", "GUI opcodes outside the interface answer 0 and cause no callback", CheckGuiOutside},
  };
  return checks;
}

}  // namespace semhost
