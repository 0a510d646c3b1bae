#include "NativeLibrary.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace sehost {

#if defined(_WIN32)

std::unique_ptr<LoadedLibrary> NativeLibrary::Open(const std::string& path, std::string* error) {
  HMODULE handle = LoadLibraryA(path.c_str());
  if (!handle) {
    char message[512] = "";
    const DWORD code = GetLastError();
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, message,
                   sizeof message, nullptr);
    *error = "cannot load " + path + ": " + message + " (error " + std::to_string(code) + ")";
    return nullptr;
  }
  return std::unique_ptr<LoadedLibrary>(new NativeLibrary(reinterpret_cast<void*>(handle)));
}

void* NativeLibrary::Find(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

NativeLibrary::~NativeLibrary() { FreeLibrary(static_cast<HMODULE>(m_handle)); }

#else

std::unique_ptr<LoadedLibrary> NativeLibrary::Open(const std::string& path, std::string* error) {
  // A path without a slash would be searched for; a module is always a file.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* message = dlerror();
    *error = std::string("cannot load ") + path + ": " + (message ? message : "unknown loader error");
    return nullptr;
  }
  return std::unique_ptr<LoadedLibrary>(new NativeLibrary(handle));
}

void* NativeLibrary::Find(const char* name) const { return dlsym(m_handle, name); }

NativeLibrary::~NativeLibrary() { dlclose(m_handle); }

#endif

}  // namespace sehost
