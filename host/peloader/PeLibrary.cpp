#include "PeLibrary.h"

#include <stdlib.h>
#include <string.h>

#include <mutex>

#include "ImportShims.h"
#include "MsvcrtShims.h"
#include "ThreadBlock.h"

namespace peloader {

namespace {

constexpr uint32_t kProcessDetach = 0;
constexpr uint32_t kProcessAttach = 1;

// The DllMain shape shared by entry points and TLS callbacks.
typedef int32_t(__attribute__((stdcall)) * EntryFunction)(void* instance, uint32_t reason, void* reserved);

// Implicit TLS indices, one per loaded image with a TLS directory.
std::mutex g_tls_mutex;
bool g_tls_index_used[ThreadBlock::kImplicitTlsSlots];

uint32_t AllocateTlsIndex(const std::string& file_name) {
  std::lock_guard<std::mutex> lock(g_tls_mutex);
  for (uint32_t i = 0; i < ThreadBlock::kImplicitTlsSlots; ++i) {
    if (!g_tls_index_used[i]) {
      g_tls_index_used[i] = true;
      return i;
    }
  }
  throw PeLoadError(file_name + ": no implicit TLS index left");
}

void FreeTlsIndex(uint32_t index) {
  std::lock_guard<std::mutex> lock(g_tls_mutex);
  g_tls_index_used[index] = false;
}


}  // namespace

PeLibrary::PeLibrary(const std::string& path) : m_image(std::make_unique<PeImage>(path)) {
  m_image->BindImports(ImportShims::Instance());
  ThreadBlock::Acquire();
  ImportShims::Instance().AddImage(m_image->FileName(), m_image.get());
  try {
    SetUpTls();
    CallEntries(kProcessAttach);
  } catch (...) {
    ImportShims::Instance().RemoveImage(m_image.get());
    if (m_has_tls) {
      ThreadBlock::Current()->SetImplicitTls(m_tls_index, nullptr);
      FreeTlsIndex(m_tls_index);
      free(m_tls_data);
    }
    ThreadBlock::Release();
    throw;
  }
  m_attached = true;
}

PeLibrary::~PeLibrary() {
  if (m_attached) CallEntries(kProcessDetach);
  MsvcrtShims::RunExitFunctions(*m_image);
  ImportShims::Instance().RemoveImage(m_image.get());
  if (m_has_tls) {
    ThreadBlock::Current()->SetImplicitTls(m_tls_index, nullptr);
    FreeTlsIndex(m_tls_index);
    free(m_tls_data);
  }
  ThreadBlock::Release();
}

// The loading thread's copy of the image's TLS template, reachable through
// the thread block's TLS array at the index written into the image. The
// layout checked the template, the index slot and the zero fill against the
// image, so the sizes here stay below twice the image's size.
void PeLibrary::SetUpTls() {
  const PeTls* tls = m_image->Tls();
  if (!tls) return;
  uint8_t* const base = static_cast<uint8_t*>(m_image->Base());
  const size_t size = size_t{tls->template_size} + tls->zero_fill + 1;
  void* data = calloc(1, size);
  if (!data) throw PeLoadError(m_image->FileName(), "cannot allocate " + std::to_string(size) + " bytes for its TLS");
  m_tls_index = AllocateTlsIndex(m_image->FileName());
  m_has_tls = true;
  m_tls_data = data;
  if (tls->template_size) memcpy(m_tls_data, base + tls->template_rva, tls->template_size);
  if (tls->index_rva) memcpy(base + tls->index_rva, &m_tls_index, sizeof m_tls_index);
  ThreadBlock::Current()->SetImplicitTls(m_tls_index, m_tls_data);
}

// Attach: TLS callbacks, then the entry point. Detach: the reverse. The
// callbacks are those the layout checked, whatever the image wrote since.
void PeLibrary::CallEntries(uint32_t reason) {
  void* const instance = m_image->Base();
  auto callbacks = [&] {
    const PeTls* tls = m_image->Tls();
    if (!tls) return;
    for (const uint32_t rva : tls->callbacks) {
      reinterpret_cast<EntryFunction>(static_cast<uint8_t*>(instance) + rva)(instance, reason, nullptr);
    }
  };
  auto entry = [&] {
    auto* main = reinterpret_cast<EntryFunction>(m_image->EntryPoint());
    if (main && !main(instance, reason, nullptr) && reason == kProcessAttach) {
      throw PeLoadError(m_image->FileName() + ": its entry point refused process attach");
    }
  };
  if (reason == kProcessAttach) {
    callbacks();
    entry();
  } else {
    entry();
    callbacks();
  }
}

void* PeLibrary::ExportAddress(const std::string& name) const {
  void* address = m_image->FindExport(name);
  if (!address) throw PeLoadError(m_image->FileName() + " exports no function named " + name);
  return address;
}

}  // namespace peloader
