#pragma once
// The floor: the GUI evaluation's work with no framework at all. Each function
// makes the host calls GuiModule makes for a change of "X" (read "X", read
// "X", write "Result") through the callback it is given, and calls the same
// math function. Defined in their own translation unit, so the caller cannot
// inline them or see which callback they get.

#include "se_boundary.h"

namespace sebench {

void FloorCos(SEHostCallback host, void* record);
void FloorSin(SEHostCallback host, void* record);
void FloorSqrt(SEHostCallback host, void* record);
void FloorTan(SEHostCallback host, void* record);

// The math function alone, on a double the caller cannot see.
double BareCos(double x);
double BareSin(double x);
double BareSqrt(double x);
double BareTan(double x);

}  // namespace sebench
