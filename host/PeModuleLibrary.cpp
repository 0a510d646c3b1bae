#include "PeModuleLibrary.h"

#include "PeLibrary.h"
#include "PeLoadError.h"

namespace sehost {

std::unique_ptr<LoadedLibrary> PeModuleLibrary::Open(const std::string& path, std::string* error) {
  try {
    return std::unique_ptr<LoadedLibrary>(new PeModuleLibrary(std::make_unique<peloader::PeLibrary>(path)));
  } catch (const std::exception& e) {  // PeLoadError, or the loader's own resources (memory, an LDT entry)
    *error = "cannot load " + path + ": " + e.what();
  }
  return nullptr;
}

PeModuleLibrary::PeModuleLibrary(std::unique_ptr<peloader::PeLibrary> library) : m_library(std::move(library)) {}

PeModuleLibrary::~PeModuleLibrary() = default;

// An export the loader cannot follow (forwarded, or with a bad ordinal) counts as missing.
void* PeModuleLibrary::Find(const char* name) const {
  try {
    return m_library->Image().FindExport(name);
  } catch (const peloader::PeLoadError&) {
    return nullptr;
  }
}

}  // namespace sehost
