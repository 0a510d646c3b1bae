#include "ModuleLibrary.h"

#include <stdio.h>

#include "NativeLibrary.h"
#if defined(SE_HOST_PE_LOADER)
#include "PeModuleLibrary.h"
#endif

namespace sehost {

namespace {

#if !defined(_WIN32)
// A PE file starts with "MZ" and names, at offset 0x3C, where its "PE\0\0"
// signature stands. False for anything unreadable: the loader then says why.
bool IsPeFile(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  unsigned char dos[0x40];
  unsigned char signature[4] = {};
  bool pe = fread(dos, 1, sizeof dos, file) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z';
  if (pe) {
    const long at = static_cast<long>(dos[0x3C] | dos[0x3D] << 8 | dos[0x3E] << 16 |
                                      static_cast<unsigned long>(dos[0x3F]) << 24);
    pe = at >= 0 && fseek(file, at, SEEK_SET) == 0 && fread(signature, 1, 4, file) == 4 &&
         signature[0] == 'P' && signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
  }
  fclose(file);
  return pe;
}
#endif

std::unique_ptr<LoadedLibrary> Open(const std::string& path, std::string* error) {
#if defined(_WIN32)
  return NativeLibrary::Open(path, error);
#else
  if (!IsPeFile(path)) return NativeLibrary::Open(path, error);
#if defined(SE_HOST_PE_LOADER)
  return PeModuleLibrary::Open(path, error);
#else
  *error = "cannot load " + path + ": it is a Windows DLL; only the i386 (linux32) build runs 32-bit Windows DLLs";
  return nullptr;
#endif
#endif
}

}  // namespace

ModuleLibrary::ModuleLibrary(const std::string& path) : m_path(path) {
  m_library = Open(path, &m_error);
  if (!m_library) return;
  // The exports are plain C functions; their addresses convert to the typed pointers.
  m_get_properties = reinterpret_cast<SEGetModuleProperties>(m_library->Find("getModuleProperties"));
  m_make_module = reinterpret_cast<SEMakeModule>(m_library->Find("makeModule"));
  std::string missing;
  if (!m_get_properties) missing += " getModuleProperties";
  if (!m_make_module) missing += " makeModule";
  if (!missing.empty()) m_error = path + " is not a module library: missing export" + missing;
}

ModuleLibrary::~ModuleLibrary() = default;

}  // namespace sehost
