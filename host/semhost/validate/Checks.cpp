#include "Checks.h"

namespace semhost {

const std::vector<Check>& AllChecks() {
  static const std::vector<Check> checks = [] {
    std::vector<Check> all;
    for (const std::vector<Check>* family : {&LoadChecks(), &RecordChecks(), &PinChecks(), &DeclarationChecks(),
                                             &OpcodeChecks(),
                                             &LifecycleChecks(), &GuiChecks(), &AudioChecks(), &HygieneChecks(),
                                             &RobustnessChecks()}) {
      all.insert(all.end(), family->begin(), family->end());
    }
    return all;
  }();
  return checks;
}

const Check* FindCheck(const std::string& name) {
  for (const Check& check : AllChecks()) {
    if (name == check.name) return &check;
  }
  return nullptr;
}

}  // namespace semhost
