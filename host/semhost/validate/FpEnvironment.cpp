#include "FpEnvironment.h"

#include <fenv.h>
#include <stdio.h>

namespace semhost {

namespace {

#if defined(__i386__) || defined(__x86_64__)
#define SEMHOST_X86 1
constexpr uint32_t kMxcsrFlags = 0x3F;  // IE DE ZE OE UE PE: sticky status, not control

uint32_t ReadMxcsr() {
  uint32_t value = 0;
  __asm__ __volatile__("stmxcsr %0" : "=m"(value));
  return value;
}
void WriteMxcsr(uint32_t value) { __asm__ __volatile__("ldmxcsr %0" : : "m"(value)); }
uint16_t ReadX87() {
  uint16_t value = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(value));
  return value;
}
void WriteX87(uint16_t value) { __asm__ __volatile__("fldcw %0" : : "m"(value)); }

bool HasSse() {
#if defined(__x86_64__) || defined(__SSE__)
  return true;
#else
  return __builtin_cpu_supports("sse");
#endif
}
#endif

std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string RoundingName(int rounding) {
  switch (rounding) {
#ifdef FE_TONEAREST
    case FE_TONEAREST: return "to nearest";
#endif
#ifdef FE_UPWARD
    case FE_UPWARD: return "upward";
#endif
#ifdef FE_DOWNWARD
    case FE_DOWNWARD: return "downward";
#endif
#ifdef FE_TOWARDZERO
    case FE_TOWARDZERO: return "toward zero";
#endif
    default: return "mode " + std::to_string(rounding);
  }
}

FpEnvironment FpEnvironment::Capture() {
  FpEnvironment env;
  env.rounding = fegetround();
#ifdef SEMHOST_X86
  env.has_x87 = true;
  env.x87 = ReadX87();
  if (HasSse()) {
    env.has_mxcsr = true;
    env.mxcsr = ReadMxcsr() & ~kMxcsrFlags;
  }
#endif
  return env;
}

void FpEnvironment::Apply() const {
  fesetround(rounding);
#ifdef SEMHOST_X86
  if (has_x87) WriteX87(x87);
  if (has_mxcsr) WriteMxcsr((ReadMxcsr() & kMxcsrFlags) | (mxcsr & ~kMxcsrFlags));
#endif
}

bool FpEnvironment::operator==(const FpEnvironment& other) const {
  return rounding == other.rounding && has_mxcsr == other.has_mxcsr && mxcsr == other.mxcsr &&
         has_x87 == other.has_x87 && x87 == other.x87;
}

FpEnvironment FpEnvironment::Unusual() {
  FpEnvironment env = Capture();
#ifdef FE_TOWARDZERO
  env.rounding = FE_TOWARDZERO;
#endif
#ifdef SEMHOST_X86
  // Rounding field 11 (toward zero) in both control words, as fesetround sets it.
  if (env.has_mxcsr) env.mxcsr = (env.mxcsr | 0x6000u) | 0x8040u;  // RC toward zero, FTZ, DAZ
  env.x87 = static_cast<uint16_t>((env.x87 & ~0x0300u) | 0x0200u | 0x0C00u);  // double precision, toward zero
#endif
  return env;
}

std::string FpEnvironment::Describe() const {
  std::string text = "rounding " + RoundingName(rounding);
  if (has_mxcsr) text += ", MXCSR " + Hex(mxcsr);
  if (has_x87) text += ", x87 control word " + Hex(x87);
  return text;
}

std::string FpEnvironment::Difference(const FpEnvironment& before, const FpEnvironment& after) {
  std::string text;
  auto add = [&text](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
  if (before.rounding != after.rounding) {
    add("rounding mode " + RoundingName(after.rounding) + " (was " + RoundingName(before.rounding) + ")");
  }
  if (before.mxcsr != after.mxcsr) {
    std::string what;
    const uint32_t changed = before.mxcsr ^ after.mxcsr;
    if (changed & 0x1F80u) what += " exception masks";
    if (changed & 0x6000u) what += " rounding";
    if (changed & 0x8000u) what += " flush-to-zero";
    if (changed & 0x0040u) what += " denormals-are-zero";
    add("MXCSR " + Hex(after.mxcsr) + " (was " + Hex(before.mxcsr) + ":" + what + ")");
  }
  if (before.x87 != after.x87) {
    std::string what;
    const uint32_t changed = static_cast<uint32_t>(before.x87 ^ after.x87);
    if (changed & 0x003Fu) what += " exception masks";
    if (changed & 0x0300u) what += " precision";
    if (changed & 0x0C00u) what += " rounding";
    if (changed & ~0x0F3Fu) what += " other bits";
    add("x87 control word " + Hex(after.x87) + " (was " + Hex(before.x87) + ":" + what + ")");
  }
  return text;
}

}  // namespace semhost
