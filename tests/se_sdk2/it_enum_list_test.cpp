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
  std::u16string text;
  bool operator==(const Item& other) const {
    return index == other.index && value == other.value && text == other.text;
  }
};

std::ostream& operator<<(std::ostream& out, const Item& item) {
  out << "(" << item.index << ", " << item.value << ", \"";
  for (char16_t c : item.text) {
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
std::vector<Item> Walk(const std::u16string& text) {
  it_enum_list list(text);
  std::vector<Item> items;
  for (list.First(); !list.IsDone() && items.size() < 1000; list.Next()) items.push_back(Current(list));
  EXPECT_TRUE(list.IsDone()) << "walk did not end";
  return items;
}

using Items = std::vector<Item>;

TEST(EnumListPlain, ItemsCountFromZeroInTextOrder) {
  EXPECT_EQ(Walk(u"cos,sin,sqrt,tan"), (Items{{0, 0, u"cos"}, {1, 1, u"sin"}, {2, 2, u"sqrt"}, {3, 3, u"tan"}}));
  EXPECT_EQ(it_enum_list(u"cos,sin,sqrt,tan").Size(), 4);
  EXPECT_EQ(Walk(u"one"), (Items{{0, 0, u"one"}}));
}

TEST(EnumListPlain, OnlySpacesAtTheEndsAreStripped) {
  EXPECT_EQ(Walk(u" a , b c "), (Items{{0, 0, u"a"}, {1, 1, u"b c"}}));
  EXPECT_EQ(Walk(u"\ta ,b\t"), (Items{{0, 0, u"\ta"}, {1, 1, u"b\t"}}));
  EXPECT_EQ(Walk(u"   ,x"), (Items{{0, 0, u""}, {1, 1, u"x"}}));
}

TEST(EnumListExplicitValues, CountingGoesOnFromAnExplicitValue) {
  EXPECT_EQ(Walk(u"a=5,b,c=-2,d"), (Items{{0, 5, u"a"}, {1, 6, u"b"}, {2, -2, u"c"}, {3, -1, u"d"}}));
}

TEST(EnumListExplicitValues, ValueIsReadBeforeStripping) {
  EXPECT_EQ(Walk(u"a = 7"), (Items{{0, 7, u"a"}}));
  EXPECT_EQ(Walk(u"a=x"), (Items{{0, 0, u"a"}}));
  EXPECT_EQ(Walk(u"a=12x"), (Items{{0, 12, u"a"}}));
  EXPECT_EQ(Walk(u"a=1=2"), (Items{{0, 1, u"a"}}));
  EXPECT_EQ(Walk(u"a=  +12abc,b"), (Items{{0, 12, u"a"}, {1, 13, u"b"}}));
}

TEST(EnumListExplicitValues, EqualsSignInFirstPositionDoesNotSplit) {
  EXPECT_EQ(Walk(u"=5,b"), (Items{{0, 0, u"=5"}, {1, 1, u"b"}}));
  EXPECT_EQ(Walk(u" =5"), (Items{{0, 5, u""}}));
}

TEST(EnumListEmptyItems, EmptyRawTextsAreItems) {
  EXPECT_EQ(Walk(u"a,,b"), (Items{{0, 0, u"a"}, {1, 1, u""}, {2, 2, u"b"}}));
  EXPECT_EQ(Walk(u",a"), (Items{{0, 0, u""}, {1, 1, u"a"}}));
}

TEST(EnumListEmptyItems, TrailingCommaOpensNoItemButTrailingSpacesDo) {
  EXPECT_EQ(Walk(u"a,b,"), (Items{{0, 0, u"a"}, {1, 1, u"b"}}));
  EXPECT_EQ(Walk(u"a,b, "), (Items{{0, 0, u"a"}, {1, 1, u"b"}, {2, 2, u""}}));
  EXPECT_EQ(Walk(u","), (Items{{0, 0, u""}}));
}

TEST(EnumListEmptyItems, EmptyTextHasNoItem) {
  it_enum_list list(u"");
  list.First();
  EXPECT_TRUE(list.IsDone());
}

TEST(EnumListRange, ItemsAreTheIntegersFromLowToHigh) {
  EXPECT_EQ(Walk(u"range 1,5"), (Items{{0, 1, u"1"}, {1, 2, u"2"}, {2, 3, u"3"}, {3, 4, u"4"}, {4, 5, u"5"}}));
  EXPECT_EQ(it_enum_list(u"range 1,5").Size(), 5);
  EXPECT_EQ(Walk(u"range 3,3"), (Items{{0, 3, u"3"}}));
  EXPECT_EQ(Walk(u"range -3,-1"), (Items{{0, -3, u"-3"}, {1, -2, u"-2"}, {2, -1, u"-1"}}));
  EXPECT_EQ(Walk(u"range 5,1"), Items{});
}

TEST(EnumListRange, BoundsAreReadLikeNumbersFromTheSeventhCharacter) {
  EXPECT_EQ(Walk(u"range 0, 10").size(), 11u);
  EXPECT_EQ(Walk(u"range 0, 10").back(), (Item{10, 10, u"10"}));
  EXPECT_EQ(Walk(u"range,2,4"), (Items{{0, 2, u"2"}, {1, 3, u"3"}, {2, 4, u"4"}}));
  EXPECT_EQ(Walk(u"range1,3"), (Items{{0, 0, u"0"}, {1, 1, u"1"}, {2, 2, u"2"}, {3, 3, u"3"}}));
  EXPECT_EQ(Walk(u"ranger,walker"), (Items{{0, 0, u"0"}}));
  EXPECT_EQ(Walk(u"range 007,+8"), (Items{{0, 7, u"7"}, {1, 8, u"8"}}));
  EXPECT_EQ(Walk(u"range  -0,0"), (Items{{0, 0, u"0"}}));
}

TEST(EnumListRange, OnlyLowerCaseRangeAtTheStartIsARange) {
  EXPECT_EQ(Walk(u"Range 1,2"), (Items{{0, 0, u"Range 1"}, {1, 1, u"2"}}));
  EXPECT_EQ(Walk(u" range 1,2"), (Items{{0, 0, u"range 1"}, {1, 1, u"2"}}));
  EXPECT_EQ(Walk(u"rang"), (Items{{0, 0, u"rang"}}));
}

TEST(EnumListFind, FindValueStopsAtTheFirstItemInWalkOrder) {
  it_enum_list list(u"a=1,b=0,c");
  ASSERT_TRUE(list.FindValue(1));
  EXPECT_EQ(Current(list), (Item{0, 1, u"a"}));
  ASSERT_TRUE(list.FindValue(0));
  EXPECT_EQ(Current(list), (Item{1, 0, u"b"}));
  EXPECT_FALSE(list.FindValue(2));
  EXPECT_TRUE(list.IsDone());
}

TEST(EnumListFind, FindIndexStopsAtThatPosition) {
  it_enum_list list(u"a=5,b,c");
  ASSERT_TRUE(list.FindIndex(2));
  EXPECT_EQ(Current(list), (Item{2, 7, u"c"}));
  list.Next();
  EXPECT_TRUE(list.IsDone());
}

TEST(EnumListFind, IndexOutsideTheListLeavesTheWalkOver) {
  for (int32_t index : {4, -1, INT32_MAX, INT32_MIN}) {
    it_enum_list list(u"cos,sin,sqrt,tan");
    ASSERT_TRUE(list.FindIndex(3));
    EXPECT_FALSE(list.FindIndex(index)) << index;
    EXPECT_TRUE(list.IsDone()) << index;
  }
}

TEST(EnumListFind, RangeItemsAreFoundByIndexAndValue) {
  it_enum_list list(u"range -3,2");
  ASSERT_TRUE(list.FindIndex(4));
  EXPECT_EQ(Current(list), (Item{4, 1, u"1"}));
  list.Next();
  EXPECT_EQ(Current(list), (Item{5, 2, u"2"}));
  ASSERT_TRUE(list.FindValue(-2));
  EXPECT_EQ(Current(list), (Item{1, -2, u"-2"}));
  for (int32_t v : {-4, 3, INT32_MIN, INT32_MAX}) {
    EXPECT_FALSE(list.FindValue(v)) << v;
    EXPECT_TRUE(list.IsDone());
  }
  EXPECT_FALSE(list.FindIndex(6));
  EXPECT_FALSE(list.FindIndex(-1));
  EXPECT_TRUE(list.IsDone());

  it_enum_list empty(u"range 2,1");
  EXPECT_FALSE(empty.FindIndex(0));
  EXPECT_FALSE(empty.FindValue(1));
  EXPECT_FALSE(empty.FindValue(2));
}

TEST(EnumListClassLevel, ForceValidValueKeepsHeldValuesAndOtherwiseTakesTheFirst) {
  EXPECT_EQ(it_enum_list::ForceValidValue(u"cos,sin,sqrt,tan", 7), 0);
  EXPECT_EQ(it_enum_list::ForceValidValue(u"cos,sin,sqrt,tan", 2), 2);
  EXPECT_EQ(it_enum_list::ForceValidValue(u"a=5,b", 9), 5);
  EXPECT_EQ(it_enum_list::ForceValidValue(u"a=5,b", 6), 6);
  EXPECT_EQ(it_enum_list::ForceValidValue(u"range -3,-1", 0), -3);
  for (int32_t v : {0, 1, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(it_enum_list::ForceValidValue(u"", v), 0) << v;
    EXPECT_EQ(it_enum_list::ForceValidValue(u"range 5,1", v), 0) << v;
  }
}

TEST(EnumListClassLevel, IsValidValueChecksEveryItem) {
  EXPECT_FALSE(it_enum_list::IsValidValue(u"range 1,5", 0));
  EXPECT_TRUE(it_enum_list::IsValidValue(u"range 1,5", 5));
  EXPECT_FALSE(it_enum_list::IsValidValue(u"range 1,5", 6));
  EXPECT_TRUE(it_enum_list::IsValidValue(u"a=5,b,c=-2,d", -1));
  EXPECT_FALSE(it_enum_list::IsValidValue(u"a=5,b,c=-2,d", 0));
  EXPECT_FALSE(it_enum_list::IsValidValue(u"", 0));
}

TEST(EnumListAfterTheEnd, NextOnAFinishedWalkKeepsItOver) {
  for (const char16_t* text : {u"a,b", u"a,b,", u"range 1,2", u"", u"range 2,1"}) {
    it_enum_list list(text);
    list.First();
    while (!list.IsDone()) list.Next();
    list.Next();
    list.Next();
    EXPECT_TRUE(list.IsDone()) << text;
  }
}

TEST(EnumListAfterTheEnd, WalkIsOverUntilStarted) {
  for (const char16_t* text : {u"a,b", u"range 1,2"}) {
    it_enum_list list(text);
    EXPECT_TRUE(list.IsDone());
    list.Next();
    EXPECT_TRUE(list.IsDone());
    list.First();
    EXPECT_EQ(list.CurrentItem()->index, 0);
  }
}

TEST(EnumListAfterTheEnd, CurrentItemIsOneRecordForTheWholeWalk) {
  it_enum_list list(u"a,b");
  list.First();
  const enum_entry* first = list.CurrentItem();
  list.Next();
  EXPECT_EQ(list.CurrentItem(), first);
  EXPECT_EQ(first->text, u"b");
}

TEST(EnumListSize, CountsCommasAfterTheFirstCharacter) {
  EXPECT_EQ(it_enum_list(u"a,,b").Size(), 3);
  EXPECT_EQ(it_enum_list(u"").Size(), 1);
  EXPECT_EQ(it_enum_list(u",a").Size(), 1);
  EXPECT_EQ(it_enum_list(u"a,b,").Size(), 3);
  EXPECT_EQ(it_enum_list(u"range 5,1").Size(), 5);
  EXPECT_EQ(it_enum_list(u"range -2,-2").Size(), 1);
}

TEST(EnumListNumbers, ReadLikeWcstolInBaseTen) {
  const it_enum_list list(u"");
  EXPECT_EQ(list.StringToInt(u"  +12abc"), 12);
  EXPECT_EQ(list.StringToInt(u"-0"), 0);
  EXPECT_EQ(list.StringToInt(u""), 0);
  EXPECT_EQ(list.StringToInt(u"x"), 0);
  EXPECT_EQ(list.StringToInt(u"x5"), 0);
  EXPECT_EQ(list.StringToInt(u"\t\t42"), 42);
  EXPECT_EQ(list.StringToInt(u"\n\v\f\r -17,3"), -17);
  EXPECT_EQ(list.StringToInt(u"- 5"), 0);
  EXPECT_EQ(list.StringToInt(u"+-5"), 0);
  EXPECT_EQ(list.StringToInt(u"0x1f"), 0);
  EXPECT_EQ(list.StringToInt(u"000123"), 123);
  EXPECT_EQ(list.StringToInt(std::u16string(u"7\0" u"8", 3)), 7);
}

TEST(EnumListNumbers, OutOfRangeClampsToTheNearest32BitBound) {
  const it_enum_list list(u"");
  EXPECT_EQ(list.StringToInt(u"2147483647"), INT32_MAX);
  EXPECT_EQ(list.StringToInt(u"2147483648"), INT32_MAX);
  EXPECT_EQ(list.StringToInt(u"-2147483648"), INT32_MIN);
  EXPECT_EQ(list.StringToInt(u"-2147483649"), INT32_MIN);
  EXPECT_EQ(list.StringToInt(u"9223372036854775808"), INT32_MAX);
  EXPECT_EQ(list.StringToInt(u"-99999999999999999999999"), INT32_MIN);
}

TEST(EnumListNumbers, OtherRadixes) {
  const it_enum_list list(u"");
  EXPECT_EQ(list.StringToInt(u"ff", 16), 255);
  EXPECT_EQ(list.StringToInt(u"0x10", 0), 16);
  EXPECT_EQ(list.StringToInt(u"010", 0), 8);
  EXPECT_EQ(list.StringToInt(u"z", 36), 35);
  EXPECT_EQ(list.StringToInt(u"-101", 2), -5);
  EXPECT_EQ(list.StringToInt(u"ffffffff", 16), INT32_MAX);
  for (int32_t radix : {1, -1, 37, INT32_MIN}) EXPECT_EQ(list.StringToInt(u"11", radix), 0) << radix;
}

TEST(EnumListLimits, RangeEndingAtTheLargestIntegerEnds) {
  EXPECT_EQ(Walk(u"range 2147483646,2147483647"), (Items{{0, 2147483646, u"2147483646"}, {1, INT32_MAX, u"2147483647"}}));
  EXPECT_EQ(Walk(u"range 99999999999,99999999999"), (Items{{0, INT32_MAX, u"2147483647"}}));
  it_enum_list list(u"range 2147483647,2147483647");
  ASSERT_TRUE(list.FindValue(INT32_MAX));
  list.Next();
  EXPECT_TRUE(list.IsDone());
}

TEST(EnumListLimits, RangeStartingAtTheSmallestIntegerStarts) {
  EXPECT_EQ(Walk(u"range -2147483648,-2147483647"),
            (Items{{0, INT32_MIN, u"-2147483648"}, {1, -2147483647, u"-2147483647"}}));
  EXPECT_EQ(Walk(u"range -99999999999,-2147483648"), (Items{{0, INT32_MIN, u"-2147483648"}}));
}

TEST(EnumListLimits, OutOfRangeBoundsClamp) {
  it_enum_list list(u"range 99999999999,1");
  list.First();
  EXPECT_TRUE(list.IsDone());
  EXPECT_EQ(list.Size(), INT32_MAX);  // |1 - 2147483647| + 1
  it_enum_list wide(u"range 1,99999999999");
  ASSERT_TRUE(wide.FindValue(INT32_MAX));
  EXPECT_EQ(Current(wide), (Item{INT32_MAX - 1, INT32_MAX, u"2147483647"}));
  wide.Next();
  EXPECT_TRUE(wide.IsDone());
}

TEST(EnumListLimits, WidestRangeEndsAfterIndexInt32Max) {
  it_enum_list list(u"range -2147483648,2147483647");
  EXPECT_EQ(list.Size(), INT32_MAX);
  ASSERT_TRUE(list.FindIndex(INT32_MAX));
  EXPECT_EQ(Current(list), (Item{INT32_MAX, -1, u"-1"}));
  list.Next();
  EXPECT_TRUE(list.IsDone());
  ASSERT_TRUE(list.FindValue(-1));
  EXPECT_EQ(list.CurrentItem()->index, INT32_MAX);
  EXPECT_FALSE(list.FindValue(0));
  EXPECT_FALSE(it_enum_list::IsValidValue(u"range -2147483648,2147483647", INT32_MAX));
  // 2^31 items reach the upper bound; one more does not.
  EXPECT_TRUE(it_enum_list::IsValidValue(u"range 0,2147483647", INT32_MAX));
  EXPECT_FALSE(it_enum_list::IsValidValue(u"range -1,2147483647", INT32_MAX));
  EXPECT_TRUE(it_enum_list::IsValidValue(u"range -1,2147483647", 2147483646));
}

TEST(EnumListLimits, ItemAfterTheLargestValueKeepsIt) {
  EXPECT_EQ(Walk(u"a=2147483647,b,c=-2147483648,d"),
            (Items{{0, INT32_MAX, u"a"}, {1, INT32_MAX, u"b"}, {2, INT32_MIN, u"c"}, {3, -2147483647, u"d"}}));
  EXPECT_EQ(Walk(u"a=99999999999,b"), (Items{{0, INT32_MAX, u"a"}, {1, INT32_MAX, u"b"}}));
  EXPECT_EQ(Walk(u"a=-99999999999,b"), (Items{{0, INT32_MIN, u"a"}, {1, -2147483647, u"b"}}));
  EXPECT_EQ(it_enum_list::ForceValidValue(u"a=2147483647,b", 5), INT32_MAX);
}

TEST(EnumListFailures, TextRangeAloneThrowsOutOfRange) {
  EXPECT_THROW(it_enum_list(u"range"), std::out_of_range);
  EXPECT_THROW(it_enum_list::IsValidValue(u"range", 0), std::out_of_range);
}

TEST(EnumListFailures, RangeWithoutCommaFromTheSeventhCharacterAsserts) {
  EXPECT_DEATH(it_enum_list(u"range "), AssertionPattern("p != -1", kEnumFile));
  EXPECT_DEATH(it_enum_list(u"range 12"), AssertionPattern("p != -1", kEnumFile));
  EXPECT_DEATH(it_enum_list(u"range,12"), AssertionPattern("p != -1", kEnumFile));
  EXPECT_DEATH(it_enum_list::ForceValidValue(u"ranges", 0), AssertionPattern("p != -1", kEnumFile));
}

TEST(EnumListFailures, CurrentItemOutsideAWalkAsserts) {
  it_enum_list fresh(u"a,b");
  EXPECT_DEATH(fresh.CurrentItem(), AssertionPattern("!IsDone()", kEnumFile));
  it_enum_list finished(u"range 1,1");
  finished.First();
  finished.Next();
  EXPECT_DEATH(finished.CurrentItem(), AssertionPattern("!IsDone()", kEnumFile));
  it_enum_list missed(u"a,b");
  missed.FindValue(9);
  EXPECT_DEATH(missed.CurrentItem(), AssertionPattern("!IsDone()", kEnumFile));
}

}  // namespace
