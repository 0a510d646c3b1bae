#include "FloorPath.h"

#include <cmath>

namespace sebench {

namespace {

constexpr int32_t kGetPinValue = 14;  // GUI_HC_GET_PIN_VALUE
constexpr int32_t kSetPinValue = 15;  // GUI_HC_SET_PIN_VALUE
constexpr int32_t kPinX = 1;
constexpr int32_t kPinResult = 2;

template <double (*F)(double)>
inline void Evaluate(SEHostCallback host, void* record) {
  float x = 0.0f;
  host(record, kGetPinValue, kPinX, 0, &x, 0.0f);
  host(record, kGetPinValue, kPinX, 0, &x, 0.0f);
  host(record, kSetPinValue, kPinResult, 0, nullptr, static_cast<float>(F(static_cast<double>(x))));
}

double Cos(double x) { return std::cos(x); }
double Sin(double x) { return std::sin(x); }
double Sqrt(double x) { return std::sqrt(x); }
double Tan(double x) { return std::tan(x); }

}  // namespace

void FloorCos(SEHostCallback host, void* record) { Evaluate<Cos>(host, record); }
void FloorSin(SEHostCallback host, void* record) { Evaluate<Sin>(host, record); }
void FloorSqrt(SEHostCallback host, void* record) { Evaluate<Sqrt>(host, record); }
void FloorTan(SEHostCallback host, void* record) { Evaluate<Tan>(host, record); }

double BareCos(double x) { return std::cos(x); }
double BareSin(double x) { return std::sin(x); }
double BareSqrt(double x) { return std::sqrt(x); }
double BareTan(double x) { return std::tan(x); }

}  // namespace sebench
