#pragma once
// `semhost info MODULE [--json]`: the library's modules (or the one --module
// names), with their properties and pins. Exit code 1 when the library holds
// no such module or it makes no audio half.

#include <string>
#include <vector>

#include "VerbOptions.h"

namespace semhost {

class ModuleInfo;

struct InfoArgs {
  std::string path;
  bool json = false;
};

class InfoVerb {
 public:
  static int Run(const VerbOptions& options, const InfoArgs& args);
  // The text `info --json` prints for `modules` of the library at `path`, without the last line feed.
  static std::string JsonText(const std::string& path, const std::vector<ModuleInfo>& modules);
};

}  // namespace semhost
