#pragma once
// The C runtime's own cos, sin, sqrt and tan, in double precision.
//
// MinGW links its own x87 versions of cos, sin and sqrt into a DLL ahead of
// the C runtime DLL's; its cos and sin no longer reduce their argument from
// |x| = 2^63 on and return meaningless values there. On Windows the module
// therefore calls the runtime DLL's functions through their import slots, as
// it already does for tan; elsewhere the standard library's are the runtime's.
//
// On 32-bit x86 the runtime returns its result in an x87 register, possibly
// with more than double precision. The module is built with SSE2 scalar
// floating point, so the caller stores that result as a double, and only the
// double is rounded to float: one rounding to float, from double, as on
// every other target.

#include <cmath>

#if defined(__i386__) && !defined(__SSE2_MATH__)
#error "32-bit x86 builds of the module need SSE2 scalar floating point (-msse2 -mfpmath=sse)"
#endif

#if defined(_WIN32) && (defined(__i386__) || defined(__x86_64__))
#if defined(__i386__)
#define SE_RUNTIME_IMPORT(name) __asm__("__imp__" #name)
#else
#define SE_RUNTIME_IMPORT(name) __asm__("__imp_" #name)
#endif
extern "C" {
extern double (*se_runtime_cos)(double) SE_RUNTIME_IMPORT(cos);
extern double (*se_runtime_sin)(double) SE_RUNTIME_IMPORT(sin);
extern double (*se_runtime_sqrt)(double) SE_RUNTIME_IMPORT(sqrt);
extern double (*se_runtime_tan)(double) SE_RUNTIME_IMPORT(tan);
}
#undef SE_RUNTIME_IMPORT
inline double RuntimeCos(double x) { return se_runtime_cos(x); }
inline double RuntimeSin(double x) { return se_runtime_sin(x); }
inline double RuntimeSqrt(double x) { return se_runtime_sqrt(x); }
inline double RuntimeTan(double x) { return se_runtime_tan(x); }
#else
inline double RuntimeCos(double x) { return std::cos(x); }
inline double RuntimeSin(double x) { return std::sin(x); }
inline double RuntimeSqrt(double x) { return std::sqrt(x); }
inline double RuntimeTan(double x) { return std::tan(x); }
#endif
