// The library loads, and getModuleProperties answers by the rules: its record
// for the module, nothing but sdk_version for any other index.

#include "Checks.h"

#include <string.h>

#include <algorithm>

#include "CheckTools.h"
#include "Guarded.h"
#include "Text.h"

namespace semhost {

namespace {

using sehost::StandInHost;
using setest::Guarded;

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
    host.RunAsCall([&] { made = ctx.library().makeModule()(i, MT_AUDIO, &StandInHost::seaudioMaster, 1); });
    if (!made) {
      ctx.Fail("getModuleProperties(" + std::to_string(i) + ") answered 1, but " + MakeModuleCall(i, MT_AUDIO) +
               " made nothing: the library does not hold module " + std::to_string(i));
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

}  // namespace

const std::vector<Check>& LoadChecks() {
  static const std::vector<Check> checks = {
      {"load.exports", "the library loads and exports getModuleProperties and makeModule", CheckExports},
      {"load.properties", "getModuleProperties fills the module's record: texts, flags, sdk_version; nothing outside it", CheckProperties},
      {"load.other-indices", "indices the library does not hold answer 0 and write nothing but sdk_version", CheckOtherIndices},
  };
  return checks;
}

}  // namespace semhost
