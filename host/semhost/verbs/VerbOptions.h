#pragma once
// The options every verb that loads a module takes.

#include <stdint.h>

#include <string>

namespace semhost {

struct VerbOptions {
  bool trace = false;
  std::string trace_file;
  int32_t module_index = 0;
  bool module_given = false;
};

}  // namespace semhost
