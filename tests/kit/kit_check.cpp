// Loads the kit's demo module and checks it works in the stand-in host.
//   kit_check PATH/KitDemo.sem

#include <stdio.h>
#include <string.h>

#include "ModuleLibrary.h"
#include "StandInHost.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  sehost::ModuleLibrary library(argv[1]);
  if (!library.ok()) {
    fprintf(stderr, "%s\n", library.error().c_str());
    return 1;
  }
  ModuleProperties properties{};
  if (library.getModuleProperties()(0, &properties) != 1 || strcmp(properties.name, "KitDemo") != 0) {
    fprintf(stderr, "unexpected properties\n");
    return 1;
  }
  sehost::StandInHost host;
  host.CreateAudio(library.makeModule());
  const size_t pins = host.QueryPins().size();
  host.SetPinFloat(0, 1.5f);
  host.SetPinDatatype(1, DT_FLOAT);
  host.CreateGui(library.makeModule());
  host.NotifyGui(0);
  const float result = host.PinFloat(1);
  printf("KitDemo: %zu pins, Result %g for X 1.5\n", pins, static_cast<double>(result));
  return pins == 2 && result == 3.0f ? 0 : 1;
}
