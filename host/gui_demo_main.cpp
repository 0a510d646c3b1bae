// Drives a GUI half of the math module through the stand-in host and prints
// "Result" for each mode over a few values of X.

#include <stdio.h>

#include "GuiModule.h"
#include "StandInHost.h"

int main() {
  const char* const modes[] = {"cos", "sin", "sqrt", "tan"};
  const float xs[] = {-1.0f, 0.0f, 0.5f, 1.0f, 2.0f};
  printf("%-6s", "X");
  for (const char* mode : modes) printf(" %14s", mode);
  printf("\n");
  for (float x : xs) {
    printf("%-6g", static_cast<double>(x));
    for (int32_t mode = 0; mode < 4; ++mode) {
      sehost::StandInHost host;
      host.SetPinInt(GuiModule::PIN_MODE, mode);
      host.SetPinFloat(GuiModule::PIN_X, x);
      host.SetPinDatatype(GuiModule::PIN_RESULT, 6);
      host.CreateGui([](SEHostCallback cb, int32_t ctx) { return (new GuiModule(cb, ctx))->Record(); });
      host.NotifyGui(GuiModule::PIN_X);
      printf(" %14.7g", static_cast<double>(host.PinFloat(GuiModule::PIN_RESULT)));
    }
    printf("\n");
  }
  return 0;
}
