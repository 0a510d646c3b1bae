#pragma once
// The framework's assertion for contract violations. Unlike the standard
// assert it is active in every build type: NDEBUG does not remove it. A failed
// check reports the expression text and the file label through the platform
// runtime's own assertion path, which ends the process.

namespace se {
// Reports `expression` and `file_label` (and `line`) and ends the process.
[[noreturn]] void AssertionFailed(const char* expression, const char* file_label, unsigned line);
// Reports an index outside [0, count): `expression` followed by the index and
// the count, as "EXPRESSION (index I, count C)", then ends the process.
[[noreturn]] void IndexFailed(const char* expression, long index, long count, const char* file_label,
                              unsigned line);
}  // namespace se

// 1 in debug builds (NDEBUG not defined), else 0: the checks that only debug
// builds make, such as the range of a pin index, test this.
#ifdef NDEBUG
#define SE_DEBUG_CHECKS 0
#else
#define SE_DEBUG_CHECKS 1
#endif

// Checks `condition`; on failure reports `text` as the failed expression.
#define SE_ASSERT_TEXT(condition, text, file_label) \
  ((condition) ? static_cast<void>(0) : ::se::AssertionFailed((text), (file_label), __LINE__))

// Checks `condition`; on failure reports its own spelling as the expression.
#define SE_ASSERT(condition, file_label) SE_ASSERT_TEXT(condition, #condition, file_label)
