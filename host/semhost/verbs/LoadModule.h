#pragma once
// Loads the library a verb names. Its start-up code is the module's own, so
// the load counts as a call into the module for the crash reporter (and so
// for a supervised run's time limit).

#include <memory>
#include <string>

#include "ModuleLibrary.h"

namespace semhost {

// The library, or null after a message on stderr, with `exit_code` 3.
std::unique_ptr<sehost::ModuleLibrary> LoadModule(const std::string& path, int* exit_code);

}  // namespace semhost
