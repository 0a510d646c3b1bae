// Feeds arbitrary files to the PE32 loader's layout step: headers and
// sections read, the image laid out in a zeroed block, relocations applied
// for an address 16 MiB above the preferred base, imports bound, exports and
// TLS read. Nothing of the image runs. Every input is either refused with a
// PeLoadError or laid out, and what a laid-out image hands on to the loader
// (slots, exports, TLS addresses) lies inside the image.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>

#include <string>

#include "FuzzCheck.h"
#include "PeLayout.h"
#include "PeLoadError.h"

namespace {

// The DLLs whose shims the loader has; any function name of theirs binds.
uint32_t Resolve(const std::string& dll, const std::string& name) {
  const bool shimmed = strcasecmp(dll.c_str(), "KERNEL32.dll") == 0 || strcasecmp(dll.c_str(), "msvcrt.dll") == 0;
  return shimmed && !name.empty() ? 0x1000u : 0u;
}

bool Inside(uint64_t rva, uint64_t size, uint32_t image) { return rva <= image && size <= image - rva; }

void CheckLaidOut(const peloader::PeLayout& layout) {
  const uint32_t image = layout.Headers().ImageSize();
  for (const auto& i : layout.Imports()) CHECK(Inside(i.slot_rva, 4, image));
  for (const auto& e : layout.Exports()) CHECK(!e.forwarder.empty() || Inside(e.rva, 1, image));
  if (const peloader::PeTls* tls = layout.Tls()) {
    CHECK(Inside(tls->template_rva, tls->template_size, image));
    CHECK(tls->zero_fill <= image);
    CHECK(tls->index_rva == 0 || Inside(tls->index_rva, 4, image));
    for (const uint32_t callback : tls->callbacks) CHECK(Inside(callback, 1, image));
  }
  if (layout.Headers().EntryRva()) CHECK(Inside(layout.Headers().EntryRva(), 1, image));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t* block = nullptr;
  try {
    peloader::PeLayout layout("input.dll", data, size);
    // calloc: the zero pages of a large image cost nothing until written.
    block = static_cast<uint8_t*>(calloc(1, layout.Headers().ImageSize()));
    CHECK(block != nullptr);
    layout.Lay(block, layout.Headers().PreferredBase() + 0x01000000u);
    layout.BindImports(Resolve, "unbound imports: ");
    CheckLaidOut(layout);
  } catch (const peloader::PeLoadError&) {
    // refused, naming the fault
  }
  free(block);
  return 0;
}
