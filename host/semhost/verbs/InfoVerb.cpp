#include "InfoVerb.h"

#include <stdio.h>

#include <nlohmann/json.hpp>

#include "CrashReporter.h"
#include "ExitCode.h"
#include "LoadModule.h"
#include "ModuleInfo.h"
#include "Session.h"
#include "TraceOutput.h"

namespace semhost {

namespace {

constexpr int32_t kMaxModules = 256;  // without --module, modules are listed up to this many

// Every module the library holds, or the one asked for; false after a message.
bool ReadModules(const VerbOptions& options, const sehost::ModuleLibrary& library, CallObserver* observer,
                 std::vector<ModuleInfo>* modules) {
  const int32_t first = options.module_given ? options.module_index : 0;
  for (int32_t index = first; index < first + (options.module_given ? 1 : kMaxModules); ++index) {
    Session session(library, index, observer);
    ModuleInfo info;
    std::string error;
    if (!info.Read(session, &error)) {
      if (options.module_given || index == 0 || error.find("holds no module") == std::string::npos) {
        fprintf(stderr, "semhost: %s: %s\n", library.path().c_str(), error.c_str());
        return false;
      }
      return true;
    }
    modules->push_back(info);
  }
  if (!options.module_given) {
    fprintf(stderr, "semhost: %s: the list stops after %d modules (name one with --module)\n", library.path().c_str(),
            static_cast<int>(kMaxModules));
  }
  return true;
}

}  // namespace

int InfoVerb::Run(const VerbOptions& options, const InfoArgs& args) {
  TraceOutput trace;
  std::string error;
  if (!trace.Open(options.trace, options.trace_file, args.json, &error)) {
    fprintf(stderr, "semhost: info: %s\n", error.c_str());
    return kExitUsage;
  }
  int exit_code = kExitOk;
  auto library = LoadModule(args.path, &exit_code);
  if (!library) return exit_code;
  CrashReporter crumbs;
  CallObserverPair observer(&crumbs, trace.observer());
  CrashReporter::SetPhase("reading the module's properties and pins");
  std::vector<ModuleInfo> modules;
  if (!ReadModules(options, *library, &observer, &modules)) return kExitFailed;
  if (args.json) {
    printf("%s\n", JsonText(args.path, modules).c_str());
  } else {
    printf("library %s\n", args.path.c_str());
    for (const ModuleInfo& info : modules) printf("%s", info.Text().c_str());
  }
  if (!trace.Close(&error)) {
    fprintf(stderr, "semhost: info: %s\n", error.c_str());
    return kExitUsage;
  }
  return kExitOk;
}

std::string InfoVerb::JsonText(const std::string& path, const std::vector<ModuleInfo>& modules) {
  nlohmann::json list = nlohmann::json::array();
  for (const ModuleInfo& info : modules) list.push_back(info.Json());
  const nlohmann::json document = {{"library", path}, {"modules", list}};
  return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace semhost
