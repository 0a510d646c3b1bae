#include "LoadModule.h"

#include <stdio.h>

#include "CrashReporter.h"
#include "ExitCode.h"

namespace semhost {

std::unique_ptr<sehost::ModuleLibrary> LoadModule(const std::string& path, int* exit_code) {
  CrashReporter crumbs;
  crumbs.LibraryCallStarted("loading the library " + path);
  std::unique_ptr<sehost::ModuleLibrary> library(new sehost::ModuleLibrary(path));
  crumbs.LibraryCallReturned("");
  if (!library->ok()) {
    fprintf(stderr, "semhost: %s\n", library->error().c_str());
    *exit_code = kExitLoadFailed;
    return nullptr;
  }
  return library;
}

}  // namespace semhost
