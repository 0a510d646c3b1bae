// Feeds arbitrary list texts and probe values to it_enum_list and checks what
// holds for every text: the walk ends, indexes run 0, 1, 2, … without gaps,
// searches and the class-level checks agree with the walk, numbers read like
// wcstol clamped to 32 bits, and Size matches the walk where it is meant to.
//
// Input: the first four bytes are a probe value (little-endian); the rest is
// the list text (16-bit wide text), one character per byte below 0x80, and a
// 15-bit character from a byte at or above 0x80 with the byte after it.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <wctype.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "it_enum_list.h"

namespace {

constexpr size_t kMaxInput = 1024;  // longer inputs are ignored: they add run time, not paths
constexpr size_t kMaxWalk = 1000;   // a wider range is walked only this far
constexpr size_t kMaxProbes = 8;   // items whose index and value are searched for

struct Item {
  int32_t index;
  int32_t value;
  std::u16string text;
};

bool Same(const enum_entry& entry, const Item& item) {
  return entry.index == item.index && entry.value == item.value && entry.text == item.text;
}

std::u16string Decode(const uint8_t* data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] < 0x80 || i + 1 == size) {
      text += static_cast<char16_t>(data[i]);
    } else {
      text += static_cast<char16_t>(((data[i] & 0x7F) << 8) | data[i + 1]);
      ++i;
    }
  }
  return text;
}

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

int32_t Clamp(int64_t n) { return static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(n, INT32_MIN), INT32_MAX)); }

// Base-10 reading by the rule of wcstol, written out independently: white
// space, an optional sign, decimal digits up to the first other character.
int32_t ReadNumber(const std::u16string& s, size_t at) {
  while (at < s.size() && iswspace(static_cast<wint_t>(s[at]))) ++at;
  bool negative = false;
  if (at < s.size() && (s[at] == u'+' || s[at] == u'-')) negative = s[at++] == u'-';
  int64_t n = 0;
  for (; at < s.size() && s[at] >= u'0' && s[at] <= u'9'; ++at) n = std::min<int64_t>(n * 10 + (s[at] - u'0'), INT64_C(1) << 40);
  return Clamp(negative ? -n : n);
}

int32_t StepAway(int32_t v, int delta) { return Clamp(static_cast<int64_t>(v) + delta); }

void CheckRange(const std::u16string& text, const std::vector<Item>& items, bool ended, const it_enum_list& list) {
  const int64_t lo = ReadNumber(text, 6);
  const int64_t hi = ReadNumber(text, text.find(u',', 6) + 1);
  const int64_t count = lo > hi ? 0 : std::min<int64_t>(hi - lo + 1, INT64_C(1) << 31);
  CHECK(static_cast<int64_t>(items.size()) == std::min<int64_t>(count, kMaxWalk));
  CHECK(ended == (count <= static_cast<int64_t>(kMaxWalk)));
  for (const Item& item : items) {
    CHECK(item.value == lo + item.index);
    CHECK(item.text == Wide(std::to_string(item.value)));
  }
  CHECK(list.Size() == Clamp((hi > lo ? hi - lo : lo - hi) + 1));
}

void CheckPlain(const std::u16string& text, const std::vector<Item>& items, const it_enum_list& list) {
  for (const Item& item : items) {
    CHECK(item.text.find(u',') == std::u16string::npos);
    CHECK(item.text.empty() || (item.text.front() != u' ' && item.text.back() != u' '));
  }
  const size_t commas = static_cast<size_t>(std::count(text.begin(), text.end(), u','));
  const size_t pieces = text.empty() ? 0 : commas + 1 - (text.back() == u',' ? 1 : 0);
  CHECK(items.size() == pieces);
  const size_t counted = text.empty() ? 1 : 1 + commas - (text.front() == u',' ? 1 : 0);
  CHECK(list.Size() == static_cast<int32_t>(counted));
  if (!text.empty() && text.front() != u',' && text.back() != u',') CHECK(list.Size() == static_cast<int32_t>(items.size()));
}

void CheckSearches(const std::u16string& text, const std::vector<Item>& items, bool ended, int32_t probe) {
  it_enum_list list(text);
  const size_t stride = std::max<size_t>(1, items.size() / kMaxProbes);
  std::vector<int32_t> values = {probe, 0, INT32_MIN, INT32_MAX};
  std::vector<size_t> picks;
  for (size_t i = 0; i < items.size(); i += stride) picks.push_back(i);
  if (!items.empty()) picks.push_back(items.size() - 1);
  for (size_t at : picks) {
    CHECK(list.FindIndex(items[at].index));
    CHECK(Same(*list.CurrentItem(), items[at]));
    list.Next();  // the walk goes on from the found item
    if (at + 1 < items.size()) {
      CHECK(Same(*list.CurrentItem(), items[at + 1]));
    } else if (ended) {
      CHECK(list.IsDone());
    }
    CHECK(list.FindIndex(items[at].index));
    for (int delta : {-1, 0, 1}) values.push_back(StepAway(items[at].value, delta));
  }
  if (ended) {
    for (int32_t index : {static_cast<int32_t>(items.size()), -1, INT32_MIN, INT32_MAX}) {
      CHECK(!list.FindIndex(index));
      CHECK(list.IsDone());
    }
  }

  for (int32_t v : values) {
    const auto first = std::find_if(items.begin(), items.end(), [v](const Item& item) { return item.value == v; });
    const bool found = list.FindValue(v);
    if (first != items.end()) {
      CHECK(found && Same(*list.CurrentItem(), *first));
    } else if (ended) {
      CHECK(!found && list.IsDone());
    } else if (found) {
      CHECK(list.CurrentItem()->value == v && list.CurrentItem()->index >= static_cast<int32_t>(items.size()));
    }
    CHECK(it_enum_list::IsValidValue(text, v) == found);
    const int32_t forced = it_enum_list::ForceValidValue(text, v);
    if (items.empty()) {
      CHECK(forced == 0);
    } else {
      CHECK(forced == (found ? v : items.front().value));
      CHECK(it_enum_list::IsValidValue(text, forced));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  uint32_t probe_bits = 0;
  for (size_t i = 0; i < 4 && i < size; ++i) probe_bits |= static_cast<uint32_t>(data[i]) << (8 * i);
  const int32_t probe = static_cast<int32_t>(probe_bits);
  const std::u16string text = size > 4 ? Decode(data + 4, size - 4) : std::u16string();

  const bool range = text.compare(0, 5, u"range") == 0;
  if (range && text.size() < 6) {
    bool threw = false;
    try {
      it_enum_list list(text);
    } catch (const std::out_of_range&) {
      threw = true;
    }
    CHECK(threw);
    return 0;
  }
  if (range && text.find(u',', 6) == std::u16string::npos) return 0;  // the constructor's precondition

  it_enum_list list(text);
  CHECK(list.IsDone());
  list.Next();
  CHECK(list.IsDone());
  CHECK(list.StringToInt(text) == ReadNumber(text, 0));
  const int32_t radix = static_cast<int8_t>(probe_bits >> 24);
  const int32_t read = list.StringToInt(text, radix);
  if (radix != 0 && (radix < 2 || radix > 36)) CHECK(read == 0);

  std::vector<Item> items;
  const enum_entry* record = nullptr;
  for (list.First(); !list.IsDone() && items.size() < kMaxWalk; list.Next()) {
    const enum_entry* entry = list.CurrentItem();
    if (record == nullptr) record = entry;
    CHECK(entry == record);
    CHECK(entry->index == static_cast<int32_t>(items.size()));
    items.push_back(Item{entry->index, entry->value, entry->text});
  }
  const bool ended = list.IsDone();
  CHECK(ended || range);
  if (ended) {
    list.Next();
    list.Next();
    CHECK(list.IsDone());
  }

  if (range) {
    CheckRange(text, items, ended, list);
  } else {
    CheckPlain(text, items, list);
  }
  CheckSearches(text, items, ended, probe);
  return 0;
}
