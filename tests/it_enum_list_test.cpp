// The enumeration-list iterator: plain lists and ranges, finding items,
// the class-level checks, number reading and the 32-bit limits.

#include <gtest/gtest.h>
#include <stdint.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "it_enum_list.h"
#include "test_support.h"

namespace {

constexpr const char* kEnumFile = "..\\se_sdk2\\it_enum_list";

struct Item {
  int32_t index;
  int32_t value;
  std::wstring text;
  bool operator==(const Item& other) const {
    return index == other.index && value == other.value && text == other.text;
  }
};

std::ostream& operator<<(std::ostream& out, const Item& item) {
  out << "(" << item.index << ", " << item.value << ", \"";
  for (wchar_t c : item.text) {
    if (c >= 32 && c < 127) {
      out << static_cast<char>(c);
    } else {
      out << "\\u" << static_cast<uint32_t>(c);
    }
  }
  return out << "\")";
}

Item Current(it_enum_list& list) {
  const enum_entry* e = list.CurrentItem();
  return Item{e->index, e->value, e->text};
}

// Every item of a full walk; fails the test if the walk does not end.
std::vector<Item> Walk(const std::wstring& text) {
  it_enum_list list(text);
  std::vector<Item> items;
  for (list.First(); !list.IsDone() && items.size() < 1000; list.Next()) items.push_back(Current(list));
  EXPECT_TRUE(list.IsDone()) << "walk did not end";
  return items;
}

using Items = std::vector<Item>;

TEST(EnumListPlain, ItemsCountFromZeroInTextOrder) {
  EXPECT_EQ(Walk(L"cos,sin,sqrt,tan"), (Items{{0, 0, L"cos"}, {1, 1, L"sin"}, {2, 2, L"sqrt"}, {3, 3, L"tan"}}));
  EXPECT_EQ(it_enum_list(L"cos,sin,sqrt,tan").Size(), 4);
  EXPECT_EQ(Walk(L"one"), (Items{{0, 0, L"one"}}));
}

TEST(EnumListPlain, OnlySpacesAtTheEndsAreStripped) {
  EXPECT_EQ(Walk(L" a , b c "), (Items{{0, 0, L"a"}, {1, 1, L"b c"}}));
  EXPECT_EQ(Walk(L"\ta ,b\t"), (Items{{0, 0, L"\ta"}, {1, 1, L"b\t"}}));
  EXPECT_EQ(Walk(L"   ,x"), (Items{{0, 0, L""}, {1, 1, L"x"}}));
}

TEST(EnumListExplicitValues, CountingGoesOnFromAnExplicitValue) {
  EXPECT_EQ(Walk(L"a=5,b,c=-2,d"), (Items{{0, 5, L"a"}, {1, 6, L"b"}, {2, -2, L"c"}, {3, -1, L"d"}}));
}

TEST(EnumListExplicitValues, ValueIsReadBeforeStripping) {
  EXPECT_EQ(Walk(L"a = 7"), (Items{{0, 7, L"a"}}));
  EXPECT_EQ(Walk(L"a=x"), (Items{{0, 0, L"a"}}));
  EXPECT_EQ(Walk(L"a=12x"), (Items{{0, 12, L"a"}}));
  EXPECT_EQ(Walk(L"a=1=2"), (Items{{0, 1, L"a"}}));
  EXPECT_EQ(Walk(L"a=  +12abc,b"), (Items{{0, 12, L"a"}, {1, 13, L"b"}}));
}

TEST(EnumListExplicitValues, EqualsSignInFirstPositionDoesNotSplit) {
  EXPECT_EQ(Walk(L"=5,b"), (Items{{0, 0, L"=5"}, {1, 1, L"b"}}));
  EXPECT_EQ(Walk(L" =5"), (Items{{0, 5, L""}}));
}

TEST(EnumListEmptyItems, EmptyRawTextsAreItems) {
  EXPECT_EQ(Walk(L"a,,b"), (Items{{0, 0, L"a"}, {1, 1, L""}, {2, 2, L"b"}}));
  EXPECT_EQ(Walk(L",a"), (Items{{0, 0, L""}, {1, 1, L"a"}}));
}

TEST(EnumListEmptyItems, TrailingCommaOpensNoItemButTrailingSpacesDo) {
  EXPECT_EQ(Walk(L"a,b,"), (Items{{0, 0, L"a"}, {1, 1, L"b"}}));
  EXPECT_EQ(Walk(L"a,b, "), (Items{{0, 0, L"a"}, {1, 1, L"b"}, {2, 2, L""}}));
  EXPECT_EQ(Walk(L","), (Items{{0, 0, L""}}));
}

TEST(EnumListEmptyItems, EmptyTextHasNoItem) {
  it_enum_list list(L"");
  list.First();
  EXPECT_TRUE(list.IsDone());
}

TEST(EnumListRange, ItemsAreTheIntegersFromLowToHigh) {
  EXPECT_EQ(Walk(L"range 1,5"), (Items{{0, 1, L"1"}, {1, 2, L"2"}, {2, 3, L"3"}, {3, 4, L"4"}, {4, 5, L"5"}}));
  EXPECT_EQ(it_enum_list(L"range 1,5").Size(), 5);
  EXPECT_EQ(Walk(L"range 3,3"), (Items{{0, 3, L"3"}}));
  EXPECT_EQ(Walk(L"range -3,-1"), (Items{{0, -3, L"-3"}, {1, -2, L"-2"}, {2, -1, L"-1"}}));
  EXPECT_EQ(Walk(L"range 5,1"), Items{});
}

TEST(EnumListRange, BoundsAreReadLikeNumbersFromTheSeventhCharacter) {
  EXPECT_EQ(Walk(L"range 0, 10").size(), 11u);
  EXPECT_EQ(Walk(L"range 0, 10").back(), (Item{10, 10, L"10"}));
  EXPECT_EQ(Walk(L"range,2,4"), (Items{{0, 2, L"2"}, {1, 3, L"3"}, {2, 4, L"4"}}));
  EXPECT_EQ(Walk(L"range1,3"), (Items{{0, 0, L"0"}, {1, 1, L"1"}, {2, 2, L"2"}, {3, 3, L"3"}}));
  EXPECT_EQ(Walk(L"ranger,walker"), (Items{{0, 0, L"0"}}));
  EXPECT_EQ(Walk(L"range 007,+8"), (Items{{0, 7, L"7"}, {1, 8, L"8"}}));
  EXPECT_EQ(Walk(L"range  -0,0"), (Items{{0, 0, L"0"}}));
}

TEST(EnumListRange, OnlyLowerCaseRangeAtTheStartIsARange) {
  EXPECT_EQ(Walk(L"Range 1,2"), (Items{{0, 0, L"Range 1"}, {1, 1, L"2"}}));
  EXPECT_EQ(Walk(L" range 1,2"), (Items{{0, 0, L"range 1"}, {1, 1, L"2"}}));
  EXPECT_EQ(Walk(L"rang"), (Items{{0, 0, L"rang"}}));
}

TEST(EnumListFind, FindValueStopsAtTheFirstItemInWalkOrder) {
  it_enum_list list(L"a=1,b=0,c");
  ASSERT_TRUE(list.FindValue(1));
  EXPECT_EQ(Current(list), (Item{0, 1, L"a"}));
  ASSERT_TRUE(list.FindValue(0));
  EXPECT_EQ(Current(list), (Item{1, 0, L"b"}));
  EXPECT_FALSE(list.FindValue(2));
  EXPECT_TRUE(list.IsDone());
}

TEST(EnumListFind, FindIndexStopsAtThatPosition) {
  it_enum_list list(L"a=5,b,c");
  ASSERT_TRUE(list.FindIndex(2));
  EXPECT_EQ(Current(list), (Item{2, 7, L"c"}));
  list.Next();
  EXPECT_TRUE(list.IsDone());
}

TEST(EnumListFind, IndexOutsideTheListLeavesTheWalkOver) {
  for (int32_t index : {4, -1, INT32_MAX, INT32_MIN}) {
    it_enum_list list(L"cos,sin,sqrt,tan");
    ASSERT_TRUE(list.FindIndex(3));
    EXPECT_FALSE(list.FindIndex(index)) << index;
    EXPECT_TRUE(list.IsDone()) << index;
  }
}

TEST(EnumListFind, RangeItemsAreFoundByIndexAndValue) {
  it_enum_list list(L"range -3,2");
  ASSERT_TRUE(list.FindIndex(4));
  EXPECT_EQ(Current(list), (Item{4, 1, L"1"}));
  list.Next();
  EXPECT_EQ(Current(list), (Item{5, 2, L"2"}));
  ASSERT_TRUE(list.FindValue(-2));
  EXPECT_EQ(Current(list), (Item{1, -2, L"-2"}));
  for (int32_t v : {-4, 3, INT32_MIN, INT32_MAX}) {
    EXPECT_FALSE(list.FindValue(v)) << v;
    EXPECT_TRUE(list.IsDone());
  }
  EXPECT_FALSE(list.FindIndex(6));
  EXPECT_FALSE(list.FindIndex(-1));
  EXPECT_TRUE(list.IsDone());

  it_enum_list empty(L"range 2,1");
  EXPECT_FALSE(empty.FindIndex(0));
  EXPECT_FALSE(empty.FindValue(1));
  EXPECT_FALSE(empty.FindValue(2));
}

TEST(EnumListClassLevel, ForceValidValueKeepsHeldValuesAndOtherwiseTakesTheFirst) {
  EXPECT_EQ(it_enum_list::ForceValidValue(L"cos,sin,sqrt,tan", 7), 0);
  EXPECT_EQ(it_enum_list::ForceValidValue(L"cos,sin,sqrt,tan", 2), 2);
  EXPECT_EQ(it_enum_list::ForceValidValue(L"a=5,b", 9), 5);
  EXPECT_EQ(it_enum_list::ForceValidValue(L"a=5,b", 6), 6);
  EXPECT_EQ(it_enum_list::ForceValidValue(L"range -3,-1", 0), -3);
  for (int32_t v : {0, 1, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(it_enum_list::ForceValidValue(L"", v), 0) << v;
    EXPECT_EQ(it_enum_list::ForceValidValue(L"range 5,1", v), 0) << v;
  }
}

TEST(EnumListClassLevel, IsValidValueChecksEveryItem) {
  EXPECT_FALSE(it_enum_list::IsValidValue(L"range 1,5", 0));
  EXPECT_TRUE(it_enum_list::IsValidValue(L"range 1,5", 5));
  EXPECT_FALSE(it_enum_list::IsValidValue(L"range 1,5", 6));
  EXPECT_TRUE(it_enum_list::IsValidValue(L"a=5,b,c=-2,d", -1));
  EXPECT_FALSE(it_enum_list::IsValidValue(L"a=5,b,c=-2,d", 0));
  EXPECT_FALSE(it_enum_list::IsValidValue(L"", 0));
}

TEST(EnumListAfterTheEnd, NextOnAFinishedWalkKeepsItOver) {
  for (const wchar_t* text : {L"a,b", L"a,b,", L"range 1,2", L"", L"range 2,1"}) {
    it_enum_list list(text);
    list.First();
    while (!list.IsDone()) list.Next();
    list.Next();
    list.Next();
    EXPECT_TRUE(list.IsDone()) << text;
  }
}

TEST(EnumListAfterTheEnd, WalkIsOverUntilStarted) {
  for (const wchar_t* text : {L"a,b", L"range 1,2"}) {
    it_enum_list list(text);
    EXPECT_TRUE(list.IsDone());
    list.Next();
    EXPECT_TRUE(list.IsDone());
    list.First();
    EXPECT_EQ(list.CurrentItem()->index, 0);
  }
}

TEST(EnumListAfterTheEnd, CurrentItemIsOneRecordForTheWholeWalk) {
  it_enum_list list(L"a,b");
  list.First();
  const enum_entry* first = list.CurrentItem();
  list.Next();
  EXPECT_EQ(list.CurrentItem(), first);
  EXPECT_EQ(first->text, L"b");
}

TEST(EnumListSize, CountsCommasAfterTheFirstCharacter) {
  EXPECT_EQ(it_enum_list(L"a,,b").Size(), 3);
  EXPECT_EQ(it_enum_list(L"").Size(), 1);
  EXPECT_EQ(it_enum_list(L",a").Size(), 1);
  EXPECT_EQ(it_enum_list(L"a,b,").Size(), 3);
  EXPECT_EQ(it_enum_list(L"range 5,1").Size(), 5);
  EXPECT_EQ(it_enum_list(L"range -2,-2").Size(), 1);
}

TEST(EnumListNumbers, ReadLikeWcstolInBaseTen) {
  const it_enum_list list(L"");
  EXPECT_EQ(list.StringToInt(L"  +12abc"), 12);
  EXPECT_EQ(list.StringToInt(L"-0"), 0);
  EXPECT_EQ(list.StringToInt(L""), 0);
  EXPECT_EQ(list.StringToInt(L"x"), 0);
  EXPECT_EQ(list.StringToInt(L"x5"), 0);
  EXPECT_EQ(list.StringToInt(L"\t\t42"), 42);
  EXPECT_EQ(list.StringToInt(L"\n\v\f\r -17,3"), -17);
  EXPECT_EQ(list.StringToInt(L"- 5"), 0);
  EXPECT_EQ(list.StringToInt(L"+-5"), 0);
  EXPECT_EQ(list.StringToInt(L"0x1f"), 0);
  EXPECT_EQ(list.StringToInt(L"000123"), 123);
  EXPECT_EQ(list.StringToInt(std::wstring(L"7\0" L"8", 3)), 7);
}

TEST(EnumListNumbers, OutOfRangeClampsToTheNearest32BitBound) {
  const it_enum_list list(L"");
  EXPECT_EQ(list.StringToInt(L"2147483647"), INT32_MAX);
  EXPECT_EQ(list.StringToInt(L"2147483648"), INT32_MAX);
  EXPECT_EQ(list.StringToInt(L"-2147483648"), INT32_MIN);
  EXPECT_EQ(list.StringToInt(L"-2147483649"), INT32_MIN);
  EXPECT_EQ(list.StringToInt(L"9223372036854775808"), INT32_MAX);
  EXPECT_EQ(list.StringToInt(L"-99999999999999999999999"), INT32_MIN);
}

TEST(EnumListNumbers, OtherRadixes) {
  const it_enum_list list(L"");
  EXPECT_EQ(list.StringToInt(L"ff", 16), 255);
  EXPECT_EQ(list.StringToInt(L"0x10", 0), 16);
  EXPECT_EQ(list.StringToInt(L"010", 0), 8);
  EXPECT_EQ(list.StringToInt(L"z", 36), 35);
  EXPECT_EQ(list.StringToInt(L"-101", 2), -5);
  EXPECT_EQ(list.StringToInt(L"ffffffff", 16), INT32_MAX);
  for (int32_t radix : {1, -1, 37, INT32_MIN}) EXPECT_EQ(list.StringToInt(L"11", radix), 0) << radix;
}

TEST(EnumListLimits, RangeEndingAtTheLargestIntegerEnds) {
  EXPECT_EQ(Walk(L"range 2147483646,2147483647"), (Items{{0, 2147483646, L"2147483646"}, {1, INT32_MAX, L"2147483647"}}));
  EXPECT_EQ(Walk(L"range 99999999999,99999999999"), (Items{{0, INT32_MAX, L"2147483647"}}));
  it_enum_list list(L"range 2147483647,2147483647");
  ASSERT_TRUE(list.FindValue(INT32_MAX));
  list.Next();
  EXPECT_TRUE(list.IsDone());
}

TEST(EnumListLimits, RangeStartingAtTheSmallestIntegerStarts) {
  EXPECT_EQ(Walk(L"range -2147483648,-2147483647"),
            (Items{{0, INT32_MIN, L"-2147483648"}, {1, -2147483647, L"-2147483647"}}));
  EXPECT_EQ(Walk(L"range -99999999999,-2147483648"), (Items{{0, INT32_MIN, L"-2147483648"}}));
}

TEST(EnumListLimits, OutOfRangeBoundsClamp) {
  it_enum_list list(L"range 99999999999,1");
  list.First();
  EXPECT_TRUE(list.IsDone());
  EXPECT_EQ(list.Size(), INT32_MAX);  // |1 - 2147483647| + 1
  it_enum_list wide(L"range 1,99999999999");
  ASSERT_TRUE(wide.FindValue(INT32_MAX));
  EXPECT_EQ(Current(wide), (Item{INT32_MAX - 1, INT32_MAX, L"2147483647"}));
  wide.Next();
  EXPECT_TRUE(wide.IsDone());
}

TEST(EnumListLimits, WidestRangeEndsAfterIndexInt32Max) {
  it_enum_list list(L"range -2147483648,2147483647");
  EXPECT_EQ(list.Size(), INT32_MAX);
  ASSERT_TRUE(list.FindIndex(INT32_MAX));
  EXPECT_EQ(Current(list), (Item{INT32_MAX, -1, L"-1"}));
  list.Next();
  EXPECT_TRUE(list.IsDone());
  ASSERT_TRUE(list.FindValue(-1));
  EXPECT_EQ(list.CurrentItem()->index, INT32_MAX);
  EXPECT_FALSE(list.FindValue(0));
  EXPECT_FALSE(it_enum_list::IsValidValue(L"range -2147483648,2147483647", INT32_MAX));
  // 2^31 items reach the upper bound; one more does not.
  EXPECT_TRUE(it_enum_list::IsValidValue(L"range 0,2147483647", INT32_MAX));
  EXPECT_FALSE(it_enum_list::IsValidValue(L"range -1,2147483647", INT32_MAX));
  EXPECT_TRUE(it_enum_list::IsValidValue(L"range -1,2147483647", 2147483646));
}

TEST(EnumListLimits, ItemAfterTheLargestValueKeepsIt) {
  EXPECT_EQ(Walk(L"a=2147483647,b,c=-2147483648,d"),
            (Items{{0, INT32_MAX, L"a"}, {1, INT32_MAX, L"b"}, {2, INT32_MIN, L"c"}, {3, -2147483647, L"d"}}));
  EXPECT_EQ(Walk(L"a=99999999999,b"), (Items{{0, INT32_MAX, L"a"}, {1, INT32_MAX, L"b"}}));
  EXPECT_EQ(Walk(L"a=-99999999999,b"), (Items{{0, INT32_MIN, L"a"}, {1, -2147483647, L"b"}}));
  EXPECT_EQ(it_enum_list::ForceValidValue(L"a=2147483647,b", 5), INT32_MAX);
}

TEST(EnumListFailures, TextRangeAloneThrowsOutOfRange) {
  EXPECT_THROW(it_enum_list(L"range"), std::out_of_range);
  EXPECT_THROW(it_enum_list::IsValidValue(L"range", 0), std::out_of_range);
}

TEST(EnumListFailures, RangeWithoutCommaFromTheSeventhCharacterAsserts) {
  EXPECT_DEATH(it_enum_list(L"range "), AssertionPattern("p != -1", kEnumFile));
  EXPECT_DEATH(it_enum_list(L"range 12"), AssertionPattern("p != -1", kEnumFile));
  EXPECT_DEATH(it_enum_list(L"range,12"), AssertionPattern("p != -1", kEnumFile));
  EXPECT_DEATH(it_enum_list::ForceValidValue(L"ranges", 0), AssertionPattern("p != -1", kEnumFile));
}

TEST(EnumListFailures, CurrentItemOutsideAWalkAsserts) {
  it_enum_list fresh(L"a,b");
  EXPECT_DEATH(fresh.CurrentItem(), AssertionPattern("!IsDone()", kEnumFile));
  it_enum_list finished(L"range 1,1");
  finished.First();
  finished.Next();
  EXPECT_DEATH(finished.CurrentItem(), AssertionPattern("!IsDone()", kEnumFile));
  it_enum_list missed(L"a,b");
  missed.FindValue(9);
  EXPECT_DEATH(missed.CurrentItem(), AssertionPattern("!IsDone()", kEnumFile));
}

}  // namespace
