#pragma once
// A module library loaded by path, with its two exports found by name. The
// platform's own loader loads it, except a 32-bit Windows DLL (a PE file) on
// i386 Linux, which the PE32 loader loads so that its own code runs; such a
// library's code may run only on the thread that loaded it.

#include <memory>
#include <string>

#include "LoadedLibrary.h"
#include "SEExports.h"

namespace sehost {

class ModuleLibrary {
 public:
  // Loads the library; on failure ok() is false and error() says why (the
  // loader's own message, or which export is missing).
  explicit ModuleLibrary(const std::string& path);
  ~ModuleLibrary();  // unloads it
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  bool ok() const { return m_get_properties && m_make_module; }
  const std::string& error() const { return m_error; }
  const std::string& path() const { return m_path; }

  SEGetModuleProperties getModuleProperties() const { return m_get_properties; }
  SEMakeModule makeModule() const { return m_make_module; }

 private:
  std::string m_path;
  std::string m_error;
  std::unique_ptr<LoadedLibrary> m_library;
  SEGetModuleProperties m_get_properties = nullptr;
  SEMakeModule m_make_module = nullptr;
};

}  // namespace sehost
