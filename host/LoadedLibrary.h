#pragma once
// A library loaded into this process by one of the loaders ModuleLibrary
// chooses from: the platform's own (NativeLibrary) or, on i386 Linux, the
// PE32 loader for 32-bit Windows DLLs (PeModuleLibrary). Destruction unloads it.

namespace sehost {

class LoadedLibrary {
 public:
  virtual ~LoadedLibrary() = default;
  // The address of the exported function `name`, or null when there is none.
  virtual void* Find(const char* name) const = 0;
};

}  // namespace sehost
