#pragma once
// Reader of enumeration-list texts. A list is either plain, "cos,sin,sqrt,tan"
// or "a=5,b,c=-2", or a range, "range 1,10". The iterator walks the text item
// by item and holds only the current item: every step reads the next item from
// the stored text. A search in a plain list walks again from the first item; a
// range item is found from the bounds, with the same result.
//
// Plain form: items are cut at commas; "text=value" (an "=" anywhere but first)
// gives an explicit value, otherwise an item's value is the previous one plus
// one (INT32_MAX stays INT32_MAX), starting from 0; item texts lose their
// leading and trailing spaces (code 32 only). Range form: the first five
// characters are "range", the sixth is skipped, and the bounds "lo,hi" follow;
// the items are lo, lo + 1, …, hi, with their decimal forms as texts.
//
// Numbers are read like wcstol with base 10, and a number outside the 32-bit
// range reads as the nearest 32-bit bound, on every platform.
//
// Texts are SEWideString, the framework's one wide-text type: what a GUI
// pin's wide text (GuiPin::GetValueTextW) holds, on every platform.

#include <stdint.h>

#include <string>

#include "SEAssert.h"
#include "SEWideString.h"

// The current item of a walk, owned by the iterator.
struct enum_entry {
  int32_t index;      // position in the walk, from 0; -1 once the walk is over
  int32_t value;      // the item's value; meaningless while index is -1
  SEWideString text;  // the item's display text
};

class it_enum_list {
 public:
  // Copies the list text and reads a range's bounds; the walk is left over
  // (IsDone() is true) until First, FindIndex or FindValue starts it.
  // A text that is exactly "range" throws std::out_of_range. A range text
  // must hold a comma at or after its seventh character: checked by the
  // framework assertion "p != -1".
  explicit it_enum_list(const SEWideString& enum_list);

  // Starts the walk at the first item; IsDone() is true at once if there is none.
  void First();
  // Moves to the next item; after the last one IsDone() becomes true. A walk
  // that is over stays over. A walk ends after its item with index
  // INT32_MAX at the latest, since later indexes would not fit in 32 bits:
  // "range -2147483648,2147483647" yields -2147483648 to -1.
  void Next();
  bool IsDone() const { return m_current.index == -1; }  // true once the walk is over
  // The current item; it lives as long as the iterator and changes with every
  // step. Precondition: the walk is on an item.
  enum_entry* CurrentItem() {
    SE_ASSERT(!IsDone(), kFileLabel);
    return &m_current;
  }

  // The item count, from the text alone. It matches the walk for a plain text
  // that is not empty and neither begins nor ends with a comma, and for a range
  // with lo <= hi holding at most INT32_MAX items. Elsewhere it differs:
  //   - plain: 1 + the commas after the first character, so "" counts 1 (the
  //     walk yields none), ",a" counts 1 (walk: 2), "a,b," counts 3 (walk: 2);
  //   - range: |hi - lo| + 1 also when lo > hi (the walk yields none);
  //   - a count above INT32_MAX reads as INT32_MAX.
  int32_t Size() const;

  // Restart the walk and stop at the first item with this index or value.
  // False when there is none; the walk is then over.
  bool FindIndex(int32_t index);  // by index
  bool FindValue(int32_t value);  // by value

  // True when some item of `enum_list` has `value`.
  static bool IsValidValue(const SEWideString& enum_list, int32_t value);
  // `value` when the list holds it; otherwise the first item's value; 0 for a
  // list without items.
  static int32_t ForceValidValue(const SEWideString& enum_list, int32_t value);

  // The number at the start of `text`, read by wcstol in `radix` (0 or 2 to
  // 36; any other radix reads 0) from the same 16-bit code units, and clamped
  // to the 32-bit range.
  int32_t StringToInt(const SEWideString& text, int32_t radix = 10) const;

 private:
  static constexpr const char* kFileLabel = "..\\se_sdk2\\it_enum_list";

  void SetOver() { m_current.index = -1; }
  void SetRangeItem(int32_t index, int32_t value);
  // Plain form: reads the item whose raw text begins at the scan position,
  // numbering it after the current item, or ends the walk at the text's end.
  void ReadListItem();
  // Index of a range's last item in a walk, -1 for an empty range.
  int32_t RangeLastIndex() const;

  SEWideString m_enum_list;  // the text given at construction, never changed
  enum_entry m_current = {-1, 0, SEWideString()};
  bool m_range = false;
  int32_t m_range_lo = 0;  // range: lower bound; plain: where the next item's raw text begins
  int32_t m_range_hi = 0;  // range: upper bound, inclusive
};
