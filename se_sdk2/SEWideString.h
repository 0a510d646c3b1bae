#pragma once
// The framework's wide text: NUL-terminated 16-bit characters, as the host
// hands them over (GuiPin::GetValueTextW) and as enumeration lists
// (it_enum_list) read them.

#include <wchar.h>

#include <string>
#include <type_traits>

// The framework's one wide-text type: a string of 16-bit code units. Where
// wchar_t is 16 bits (the Windows targets) it is exactly std::wstring, so
// module code written for the target (L"…" texts, the runtime's wide
// functions) uses it unchanged; where wchar_t is wider it is std::u16string,
// which holds the same code units.
#if WCHAR_MAX <= 0xFFFF
typedef std::wstring SEWideString;
#else
typedef std::u16string SEWideString;
#endif

// A literal of SEWideString's characters: SE_WIDE("range") or SE_WIDE(',')
// (L"…" where wchar_t is 16 bits, u"…" elsewhere).
#if WCHAR_MAX <= 0xFFFF
#define SE_WIDE(literal) L##literal
#else
#define SE_WIDE(literal) u##literal
#endif

static_assert(sizeof(SEWideString::value_type) == 2, "wide text is 16-bit code units");
#if defined(_WIN32)
static_assert(std::is_same<SEWideString, std::wstring>::value, "Windows module code uses std::wstring unchanged");
#endif
