#pragma once
// A 32-bit Windows module DLL loaded by the PE32 loader (host/peloader), so
// that an i386 Linux host runs the DLL's own machine code. Built only where
// the loader is (SE_HOST_PE_LOADER). The DLL's code may run only on the
// thread that loaded it, from load until destruction.

#include <memory>
#include <string>

#include "LoadedLibrary.h"

namespace peloader {
class PeLibrary;
}

namespace sehost {

class PeModuleLibrary : public LoadedLibrary {
 public:
  // The loaded and started DLL, or null with `error` saying why: a malformed
  // file, an import the loader lacks (named as DLL!function), or an entry
  // point that refused the load.
  static std::unique_ptr<LoadedLibrary> Open(const std::string& path, std::string* error);
  ~PeModuleLibrary() override;
  PeModuleLibrary(const PeModuleLibrary&) = delete;
  PeModuleLibrary& operator=(const PeModuleLibrary&) = delete;

  void* Find(const char* name) const override;

 private:
  explicit PeModuleLibrary(std::unique_ptr<peloader::PeLibrary> library);
  std::unique_ptr<peloader::PeLibrary> m_library;
};

}  // namespace sehost
