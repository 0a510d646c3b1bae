#pragma once
// The names that a loaded DLL's imports, and its own GetModuleHandle,
// LoadLibrary and GetProcAddress calls, resolve against: the shimmed system
// DLLs (by DLL and function name) and the PE images currently loaded. DLL
// names compare without regard to case, function names exactly. One table
// serves the whole process.

#include <map>
#include <string>

namespace peloader {

class PeImage;

class ImportShims {
 public:
  // The process's table, with every KERNEL32 and msvcrt shim registered.
  static ImportShims& Instance();
  // Ends the process after a shim met a call it cannot serve, naming the
  // shim: DLL code must never carry on with a wrong answer.
  [[noreturn]] static void Fatal(const char* shim, const std::string& why);

  ImportShims() = default;
  ImportShims(const ImportShims&) = delete;
  ImportShims& operator=(const ImportShims&) = delete;

  // Registers `address` (a function, or for a data import the variable) as
  // what `dll`!`name` resolves to.
  void Add(const std::string& dll, const std::string& name, const void* address);
  // What `dll`!`name` resolves to, or null when it is not provided.
  const void* Find(const std::string& dll, const std::string& name) const;

  // Module handles, as the kernel32 shims hand them out: a loaded image's
  // base, or for a shimmed DLL the address of its table here. Null for
  // names that are neither.
  void* ModuleHandle(const std::string& dll) const;
  // GetProcAddress: the export or shim `name` of the module behind `handle`;
  // null when the handle or the name is unknown.
  const void* FindInModule(const void* handle, const std::string& name) const;

  // Loaded images, by file name; registered for as long as they are loaded.
  void AddImage(const std::string& file_name, const PeImage* image);
  void RemoveImage(const PeImage* image);
  // The loaded image that contains `address`, or null.
  const PeImage* ImageContaining(const void* address) const;

 private:
  static std::string Key(const std::string& dll);  // DLL names compare case-blind, ".dll" optional

  std::map<std::string, std::map<std::string, const void*>> m_dlls;
  std::map<std::string, const PeImage*> m_images;
};

}  // namespace peloader
