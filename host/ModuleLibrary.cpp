#include "ModuleLibrary.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace sehost {

namespace {

#if defined(_WIN32)
void* Open(const std::string& path, std::string* error) {
  HMODULE handle = LoadLibraryA(path.c_str());
  if (!handle) {
    char message[512] = "";
    const DWORD code = GetLastError();
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, message,
                   sizeof message, nullptr);
    *error = "cannot load " + path + ": " + message + " (error " + std::to_string(code) + ")";
  }
  return reinterpret_cast<void*>(handle);
}
void* Find(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void Close(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* Open(const std::string& path, std::string* error) {
  // A path without a slash would be searched for; a module is always a file.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* message = dlerror();
    *error = std::string("cannot load ") + path + ": " + (message ? message : "unknown loader error");
  }
  return handle;
}
void* Find(void* handle, const char* name) { return dlsym(handle, name); }
void Close(void* handle) { dlclose(handle); }
#endif

}  // namespace

ModuleLibrary::ModuleLibrary(const std::string& path) : m_path(path) {
  m_handle = Open(path, &m_error);
  if (!m_handle) return;
  // The exports are plain C functions; their addresses convert to the typed pointers.
  m_get_properties = reinterpret_cast<SEGetModuleProperties>(Find(m_handle, "getModuleProperties"));
  m_make_module = reinterpret_cast<SEMakeModule>(Find(m_handle, "makeModule"));
  std::string missing;
  if (!m_get_properties) missing += " getModuleProperties";
  if (!m_make_module) missing += " makeModule";
  if (!missing.empty()) m_error = path + " is not a module library: missing export" + missing;
}

ModuleLibrary::~ModuleLibrary() {
  if (m_handle) Close(m_handle);
}

}  // namespace sehost
