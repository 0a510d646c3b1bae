#pragma once
// The validator's checks of a module against the interface contract. Each
// runs in a child process of its own (see Validator); this is the child's
// side. One file per family of checks holds the checks and the family's
// table; AllChecks puts the tables together in the order the validator runs them.

#include <string>
#include <vector>

#include "CheckContext.h"

namespace semhost {

struct Check {
  const char* name;
  const char* description;
  void (*run)(CheckContext&);
};

// Every check, in the order the validator runs them.
const std::vector<Check>& AllChecks();
const Check* FindCheck(const std::string& name);

// Each family's table, in its own file (LoadChecks.cpp, …).
const std::vector<Check>& LoadChecks();
const std::vector<Check>& RecordChecks();
const std::vector<Check>& PinChecks();
const std::vector<Check>& DeclarationChecks();
const std::vector<Check>& OpcodeChecks();
const std::vector<Check>& LifecycleChecks();
const std::vector<Check>& GuiChecks();
const std::vector<Check>& HygieneChecks();
const std::vector<Check>& RobustnessChecks();
const std::vector<Check>& AudioChecks();

}  // namespace semhost
