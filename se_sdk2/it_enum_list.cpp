#include "it_enum_list.h"

#include <wchar.h>

#include <utility>

namespace {

constexpr int64_t kInt32Min = INT32_MIN;
constexpr int64_t kInt32Max = INT32_MAX;

int32_t ClampToInt32(int64_t n) {
  if (n < kInt32Min) return INT32_MIN;
  if (n > kInt32Max) return INT32_MAX;
  return static_cast<int32_t>(n);
}

// The "%d" form of a 32-bit integer, as swprintf writes it.
SEWideString DecimalText(int32_t n) {
  wchar_t buffer[16];  // "-2147483648" and its terminator fit
  const int written = swprintf(buffer, sizeof buffer / sizeof buffer[0], L"%d", static_cast<int>(n));
  // Digits and "-" only: each wide character is one 16-bit code unit.
  return written > 0 ? SEWideString(buffer, buffer + written) : SEWideString();
}

}  // namespace

it_enum_list::it_enum_list(const SEWideString& enum_list) : m_enum_list(enum_list) {
  m_range = m_enum_list.compare(0, 5, SE_WIDE("range")) == 0;
  if (!m_range) return;
  // The sixth character is skipped whatever it is; substr throws
  // std::out_of_range for the text "range" itself.
  const SEWideString rest = m_enum_list.substr(6);
  const SEWideString::size_type p = rest.find(SE_WIDE(','));
  SE_ASSERT_TEXT(p != SEWideString::npos, "p != -1", kFileLabel);
  m_range_lo = StringToInt(rest);  // reading stops at the comma at the latest
  m_range_hi = StringToInt(rest.substr(p + 1));
}

void it_enum_list::First() {
  if (m_range) {
    if (m_range_lo > m_range_hi) {
      SetOver();
    } else {
      SetRangeItem(0, m_range_lo);
    }
    return;
  }
  m_range_lo = 0;
  m_current.value = -1;
  m_current.index = -1;
  ReadListItem();
}

void it_enum_list::Next() {
  if (m_current.index == -1) return;
  if (m_current.index == INT32_MAX) {
    SetOver();
    return;
  }

  if (m_range) {
    if (m_current.value >= m_range_hi) {
      SetOver();
    } else {
      SetRangeItem(m_current.index + 1, m_current.value + 1);
    }
    return;
  }

  ReadListItem();
}

void it_enum_list::ReadListItem() {
  const SEWideString::size_type length = m_enum_list.size();
  const SEWideString::size_type start = static_cast<SEWideString::size_type>(m_range_lo);
  if (start >= length) {
    SetOver();
    return;
  }
  m_current.index = m_current.index + 1;
  // An item after one valued INT32_MAX keeps INT32_MAX: the count saturates
  // like a number read beyond the 32-bit range.
  if (m_current.value != INT32_MAX) m_current.value = m_current.value + 1;

  const SEWideString::size_type comma = m_enum_list.find(SE_WIDE(','), start);
  const SEWideString::size_type end = comma == SEWideString::npos ? length : comma;
  SEWideString text = m_enum_list.substr(start, end - start);

  // "=" in the first position stays part of the text.
  const SEWideString::size_type equals = text.find(SE_WIDE('='));
  if (equals != SEWideString::npos && equals > 0) {
    m_current.value = StringToInt(text.substr(equals + 1));
    text.resize(equals);
  }
  m_range_lo = static_cast<int32_t>(end + 1);

  const SEWideString::size_type first = text.find_first_not_of(SE_WIDE(' '));
  if (first == SEWideString::npos) {
    text.clear();
  } else {
    text = text.substr(first, text.find_last_not_of(SE_WIDE(' ')) - first + 1);
  }
  m_current.text = std::move(text);
}

void it_enum_list::SetRangeItem(int32_t index, int32_t value) {
  m_current.index = index;
  m_current.value = value;
  m_current.text = DecimalText(value);
}

int32_t it_enum_list::RangeLastIndex() const {
  if (m_range_lo > m_range_hi) return -1;
  return ClampToInt32(static_cast<int64_t>(m_range_hi) - m_range_lo);
}

int32_t it_enum_list::Size() const {
  if (m_range) {
    const int64_t span = static_cast<int64_t>(m_range_hi) - m_range_lo;
    return ClampToInt32((span < 0 ? -span : span) + 1);
  }
  int64_t count = 1;
  for (SEWideString::size_type i = 1; i < m_enum_list.size() && count < kInt32Max; ++i) {
    if (m_enum_list[i] == SE_WIDE(',')) ++count;
  }
  return static_cast<int32_t>(count);
}

// A range's item is found from its bounds, with the same result as a walk
// from the first item, so a search in a wide range costs no more than in a
// short one.
bool it_enum_list::FindIndex(int32_t index) {
  if (m_range) {
    if (index < 0 || index > RangeLastIndex()) {
      SetOver();
      return false;
    }
    SetRangeItem(index, static_cast<int32_t>(static_cast<int64_t>(m_range_lo) + index));
    return true;
  }
  for (First(); !IsDone(); Next()) {
    if (m_current.index == index) return true;
  }
  return false;
}

bool it_enum_list::FindValue(int32_t value) {
  if (m_range) {
    const int64_t offset = static_cast<int64_t>(value) - m_range_lo;
    if (offset < 0 || offset > RangeLastIndex()) {
      SetOver();
      return false;
    }
    SetRangeItem(static_cast<int32_t>(offset), value);
    return true;
  }
  for (First(); !IsDone(); Next()) {
    if (m_current.value == value) return true;
  }
  return false;
}

bool it_enum_list::IsValidValue(const SEWideString& enum_list, int32_t value) {
  it_enum_list list(enum_list);
  return list.FindValue(value);
}

int32_t it_enum_list::ForceValidValue(const SEWideString& enum_list, int32_t value) {
  it_enum_list list(enum_list);
  if (list.FindValue(value)) return value;
  list.First();
  return list.IsDone() ? 0 : list.CurrentItem()->value;
}

int32_t it_enum_list::StringToInt(const SEWideString& text, int32_t radix) const {
  // Other radixes are refused by some runtimes through their invalid-argument
  // handler, which may end the process.
  if (radix != 0 && (radix < 2 || radix > 36)) return 0;
  // wcstol reads the runtime's wide characters (32 bits where SEWideString is
  // std::u16string): each 16-bit code unit becomes one of them, unchanged. A
  // character the number cannot use stops the reading either way, surrogates
  // included, and so does a NUL.
  const std::wstring wide(text.begin(), text.end());
  // long is 32 bits on Windows and 64 bits on 64-bit Linux; the clamp gives
  // the same 32-bit result on both.
  return ClampToInt32(wcstol(wide.c_str(), nullptr, static_cast<int>(radix)));
}
