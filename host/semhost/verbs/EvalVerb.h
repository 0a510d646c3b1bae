#pragma once
// `semhost eval MODULE [--set PIN=VALUE]… [--get PIN]… [--sweep PIN=FROM:TO:COUNT
// [--for PIN] [--csv FILE | --table]]` and `semhost plot MODULE --sweep … --svg
// FILE`: sets input pins as a host does and prints the outputs, a sweep's
// table, or a chart of it. Every pin and value is checked before the first
// change reaches the module (exit code 2).

#include <string>
#include <vector>

#include "VerbOptions.h"

namespace semhost {

struct EvalArgs {
  std::string path;
  std::vector<std::string> sets;
  std::vector<std::string> gets;
  std::string sweep;
  std::string for_pin;
  std::string csv;
  bool table = false;
  // plot
  std::string svg;
  std::string y_range;
  std::string title;
};

class EvalVerb {
 public:
  static int Run(const VerbOptions& options, const EvalArgs& args, bool plot);
};

}  // namespace semhost
