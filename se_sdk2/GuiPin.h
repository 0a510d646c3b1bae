#pragma once
// The GUI side's handle on one pin: reads and writes the pin's value through
// the owning half's host callback.

#include <stdint.h>

#include <string>

#include "SEWideString.h"

class SEGUI_base;

// On 32-bit x86 a float result leaves a function in an x87 register, and the
// load into it quiets a signalling NaN and raises the invalid-operation flag.
// GetValueFloat is therefore inlined at every call, also in unoptimised
// builds, so the host's four bytes reach the caller unchanged.
#if defined(__GNUC__) && defined(__i386__)
#define SE_FLOAT_RESULT_INLINE __attribute__((always_inline))
#else
#define SE_FLOAT_RESULT_INLINE
#endif

class GuiPin {
 public:
  int32_t m_index;        // the pin's index, in the order the module declares its pins
  SEGUI_base* m_module;   // the half whose host callback carries the calls

  // Each operation makes its host call(s) with `index` = m_index. The four
  // value operations are inline, defined in SEGUI_base.h after SEGUI_base
  // (they need the whole class); a GUI class has that header anyway.
  inline int32_t GetValueInt() const;    // GUI_HC_GET_PIN_VALUE; the 4 bytes the host wrote, as int32
  SE_FLOAT_RESULT_INLINE inline float GetValueFloat() const;  // GUI_HC_GET_PIN_VALUE; the same 4 bytes, as float
  inline void SetValueInt(int32_t v) const;    // GUI_HC_SET_PIN_VALUE with value = v
  inline void SetValueFloat(float v) const;    // GUI_HC_SET_PIN_VALUE with opt = v
  void SetValueText(const std::string& text) const;  // GUI_HC_SET_PIN_TEXT
  // GUI_HC_GET_PIN_TEXT; a null answer reads as an empty text.
  std::string GetValueText() const;
  // GUI_HC_GET_PIN_TEXT_W, twice. A count of 0 or less reads as an empty text
  // without a second call; a text without NUL is cut at the count. Throws
  // std::bad_alloc when the buffer cannot be reserved.
  SEWideString GetValueTextW() const;
};
