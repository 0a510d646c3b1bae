// Loads a module library and runs it in the stand-in host: its properties,
// its pins, and "Result" for every mode over a few values of X.
//
//   se_demo PATH/QV_Zolvexan.sem

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "ModuleLibrary.h"
#include "StandInHost.h"

namespace {

const char* DatatypeName(int32_t datatype) {
  switch (datatype) {
    case DT_ENUM: return "enum";
    case DT_FSAMPLE: return "audio";
    case DT_FLOAT: return "float";
    default: return "other";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s MODULE.sem\n", argv[0]);
    return 2;
  }
  sehost::ModuleLibrary library(argv[1]);
  if (!library.ok()) {
    fprintf(stderr, "%s\n", library.error().c_str());
    return 3;
  }

  ModuleProperties properties;
  memset(&properties, 0, sizeof properties);
  if (!library.getModuleProperties()(0, &properties)) {
    fprintf(stderr, "%s holds no module 0\n", argv[1]);
    return 1;
  }
  printf("name         %s\nid           %s\nflags        %d\nsdk_version  %d\nabout\n", properties.name,
         properties.id, static_cast<int>(properties.flags), static_cast<int>(properties.sdk_version));
  for (const char* line = properties.about; line;) {
    const char* end = strchr(line, '\n');
    printf("  | %.*s\n", static_cast<int>(end ? end - line : static_cast<long>(strlen(line))), line);
    line = end ? end + 1 : nullptr;
  }

  sehost::StandInHost host;
  host.CreateAudio(library.makeModule());
  const std::vector<SEPinProperties> pins = host.QueryPins();
  printf("\npins\n");
  for (size_t i = 0; i < pins.size(); ++i) {
    printf("  %zu  %-8s %-3s %-6s flags 0x%x%s%s\n", i, pins[i].name ? pins[i].name : "", pins[i].direction ? "out" : "in",
           DatatypeName(pins[i].datatype), static_cast<unsigned>(pins[i].flags),
           pins[i].datatype_extra ? "  list " : "", pins[i].datatype_extra ? pins[i].datatype_extra : "");
  }

  const char* const modes[] = {"cos", "sin", "sqrt", "tan"};
  const float xs[] = {-1.0f, 0.0f, 0.5f, 1.0f, 1.5707964f, 2.0f};
  printf("\nResult\n%-11s", "X");
  for (const char* mode : modes) printf(" %14s", mode);
  printf("\n");
  host.SetPinDatatype(2, DT_FLOAT);
  host.CreateGui(library.makeModule());
  for (float x : xs) {
    printf("%-11.8g", static_cast<double>(x));
    host.SetPinFloat(1, x);
    for (int32_t mode = 0; mode < 4; ++mode) {
      host.SetPinInt(0, mode);
      host.NotifyGui(0);
      printf(" %14.7g", static_cast<double>(host.PinFloat(2)));
    }
    printf("\n");
  }
  host.CloseGui();
  host.CloseAudio();
  return 0;
}
