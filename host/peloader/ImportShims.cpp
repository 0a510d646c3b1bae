#include "ImportShims.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#include "Kernel32Shims.h"
#include "MsvcrtShims.h"
#include "PeImage.h"

namespace peloader {

ImportShims& ImportShims::Instance() {
  static ImportShims* const shims = [] {
    auto* table = new ImportShims();  // lives until the process ends: DLL code may call in at exit
    Kernel32Shims::Register(*table);
    MsvcrtShims::Register(*table);
    return table;
  }();
  return *shims;
}

void ImportShims::Fatal(const char* shim, const std::string& why) {
  fprintf(stderr, "PE loader: %s: %s\n", shim, why.c_str());
  abort();
}

std::string ImportShims::Key(const std::string& dll) {
  std::string key;
  for (char c : dll) key += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (key.find('.') == std::string::npos) key += ".dll";  // LoadLibrary("kernel32") means kernel32.dll
  return key;
}

void ImportShims::Add(const std::string& dll, const std::string& name, const void* address) {
  m_dlls[Key(dll)][name] = address;
}

const void* ImportShims::Find(const std::string& dll, const std::string& name) const {
  const auto table = m_dlls.find(Key(dll));
  if (table == m_dlls.end()) return nullptr;
  const auto entry = table->second.find(name);
  return entry == table->second.end() ? nullptr : entry->second;
}

void* ImportShims::ModuleHandle(const std::string& dll) const {
  const std::string key = Key(dll);
  const auto image = m_images.find(key);
  if (image != m_images.end()) return image->second->Base();
  const auto table = m_dlls.find(key);
  if (table != m_dlls.end()) return const_cast<void*>(static_cast<const void*>(&table->second));
  return nullptr;
}

const void* ImportShims::FindInModule(const void* handle, const std::string& name) const {
  for (const auto& [key, image] : m_images) {
    if (image->Base() == handle) return image->FindExport(name);
  }
  for (const auto& [key, table] : m_dlls) {
    if (static_cast<const void*>(&table) == handle) {
      const auto entry = table.find(name);
      return entry == table.end() ? nullptr : entry->second;
    }
  }
  return nullptr;
}

void ImportShims::AddImage(const std::string& file_name, const PeImage* image) { m_images[Key(file_name)] = image; }

void ImportShims::RemoveImage(const PeImage* image) {
  for (auto it = m_images.begin(); it != m_images.end(); ++it) {
    if (it->second == image) {
      m_images.erase(it);
      return;
    }
  }
}

const PeImage* ImportShims::ImageContaining(const void* address) const {
  for (const auto& [key, image] : m_images) {
    if (image->Contains(address)) return image;
  }
  return nullptr;
}

}  // namespace peloader
