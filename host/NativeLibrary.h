#pragma once
// A library loaded by the platform's own loader: dlopen on Linux,
// LoadLibrary on Windows.

#include <memory>
#include <string>

#include "LoadedLibrary.h"

namespace sehost {

class NativeLibrary : public LoadedLibrary {
 public:
  // The loaded library, or null with `error` set to the loader's own message.
  static std::unique_ptr<LoadedLibrary> Open(const std::string& path, std::string* error);
  ~NativeLibrary() override;
  NativeLibrary(const NativeLibrary&) = delete;
  NativeLibrary& operator=(const NativeLibrary&) = delete;

  void* Find(const char* name) const override;

 private:
  explicit NativeLibrary(void* handle) : m_handle(handle) {}
  void* m_handle;
};

}  // namespace sehost
